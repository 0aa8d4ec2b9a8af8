#include "text.h"

#include <cstdio>

namespace nbwire {

std::string Visible(const std::string& bytes) {
  std::string shown;
  for (unsigned char c : bytes) {
    switch (c) {
      case '\r': shown += "\\r"; break;
      case '\n': shown += "\\n"; break;
      case '\t': shown += "\\t"; break;
      case '\\': shown += "\\\\"; break;
      case '"': shown += "\\\""; break;
      default:
        if (c >= 0x20 && c < 0x7F) {
          shown += static_cast<char>(c);
        } else {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\x%02X", c);
          shown += hex;
        }
    }
  }
  return shown;
}

std::string Quoted(const std::string& bytes) { return "\"" + Visible(bytes) + "\""; }

std::string Trimmed(const std::string& text, const char* blanks) {
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace nbwire

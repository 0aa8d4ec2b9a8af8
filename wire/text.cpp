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

}  // namespace nbwire

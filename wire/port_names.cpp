#include "port_names.h"

namespace nbwire {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// "COMn" in any case: "COM12"; `anyNumber` false takes only COM1 to COM9.
// A leading zero names another device ("COM01" is not COM1).
std::string ComPort(const std::string& text, bool anyNumber) {
  if (text.size() < 4 || Upper(text[0]) != 'C' || Upper(text[1]) != 'O' || Upper(text[2]) != 'M' ||
      text[3] == '0') {
    return std::string();
  }
  const size_t digits = text.size() - 3;
  if (digits > (anyNumber ? 9u : 1u)) return std::string();
  for (size_t k = 3; k < text.size(); ++k) {
    if (!IsDigit(text[k])) return std::string();
  }
  return "COM" + text.substr(3);
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace

std::string PortOfFileName(const std::string& name) {
  const bool twoSeparators = name.size() >= 2 && IsSeparator(name[0]) && IsSeparator(name[1]);
  if (twoSeparators && name.size() >= 4 && (name[2] == '.' || name[2] == '?') && IsSeparator(name[3])) {
    std::string rest = name.substr(4);
    if (name[2] == '.') {
      while (!rest.empty() && (rest.back() == ' ' || rest.back() == '.')) rest.pop_back();
    }
    return ComPort(rest, true);
  }
  if (twoSeparators) return std::string();  // a network path: its parts are files
  size_t start = name.size() >= 2 && name[1] == ':' ? 2 : 0;  // a drive
  for (size_t k = start; k < name.size(); ++k) {
    if (IsSeparator(name[k])) start = k + 1;
  }
  size_t end = name.find_first_of(".:", start);
  if (end == std::string::npos) end = name.size();
  while (end > start && name[end - 1] == ' ') --end;
  return ComPort(name.substr(start, end - start), false);
}

std::string NamedPort(const std::string& text) {
  std::string name = Trimmed(text);
  if (name.size() > 4 && name.compare(0, 4, "\\\\.\\") == 0) name.erase(0, 4);
  return ComPort(name, true);
}

bool ParseServerAddress(const std::string& text, ServerAddress& address) {
  const std::string trimmed = Trimmed(text);
  const size_t colon = trimmed.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == trimmed.size() ||
      trimmed.size() - colon - 1 > 5) {
    return false;
  }
  const std::string host = trimmed.substr(0, colon);
  if (host.find_first_of(" \t,:\"") != std::string::npos) return false;
  uint32_t port = 0;
  for (size_t k = colon + 1; k < trimmed.size(); ++k) {
    if (!IsDigit(trimmed[k])) return false;
    port = port * 10 + static_cast<uint32_t>(trimmed[k] - '0');
  }
  if (port == 0 || port > 65535) return false;
  address.host = host;
  address.port = static_cast<uint16_t>(port);
  return true;
}

std::string ServerName(const ServerAddress& address) {
  return address.host + ":" + std::to_string(address.port);
}

bool DottedAddress(const std::string& host, uint8_t bytes[4]) {
  size_t at = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0 && (at >= host.size() || host[at++] != '.')) return false;
    const size_t start = at;
    uint32_t value = 0;
    while (at < host.size() && IsDigit(host[at]) && at - start < 3) value = value * 10 + (host[at++] - '0');
    if (at == start || value > 255) return false;
    bytes[part] = static_cast<uint8_t>(value);
  }
  return at == host.size();
}

bool SameHost(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t k = 0; k < a.size(); ++k) {
    if (Upper(a[k]) != Upper(b[k])) return false;
  }
  return true;
}

}  // namespace nbwire

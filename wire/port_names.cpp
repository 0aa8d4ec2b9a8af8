#include "port_names.h"

#include "wire/text.h"

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

// The last part of an ordinary path as Windows looks for a DOS device in
// it: before its first "." or ":", without trailing blanks. Empty for a
// network path, whose parts are always files.
std::string DosDeviceStem(const std::string& name) {
  if (name.size() >= 2 && IsSeparator(name[0]) && IsSeparator(name[1])) return std::string();
  size_t start = name.size() >= 2 && name[1] == ':' ? 2 : 0;  // a drive
  for (size_t k = start; k < name.size(); ++k) {
    if (IsSeparator(name[k])) start = k + 1;
  }
  size_t end = name.find_first_of(".:", start);
  if (end == std::string::npos) end = name.size();
  while (end > start && name[end - 1] == ' ') --end;
  return name.substr(start, end - start);
}

// "\\.\" or "\\?\" before the rest of a path: the device namespace.
bool InDeviceNamespace(const std::string& name) {
  return name.size() >= 4 && IsSeparator(name[0]) && IsSeparator(name[1]) &&
         (name[2] == '.' || name[2] == '?') && IsSeparator(name[3]);
}

std::string UpperText(std::string text) {
  for (char& c : text) c = Upper(c);
  return text;
}

// COM or LPT with one digit 1 to 9, or a superscript 1, 2 or 3 as one
// ISO 8859-1 byte (B9, B2, B3) or its two UTF-8 bytes (C2 B9 ...).
bool NumberedDevice(const std::string& stem) {
  const std::string head = UpperText(stem.substr(0, 3));
  if (head != "COM" && head != "LPT") return false;
  const std::string digit = stem.substr(3);
  const auto superscript = [](char c) { return c == '\xB9' || c == '\xB2' || c == '\xB3'; };
  if (digit.size() == 1) return (digit[0] >= '1' && digit[0] <= '9') || superscript(digit[0]);
  return digit.size() == 2 && digit[0] == '\xC2' && superscript(digit[1]);
}

}  // namespace

std::string PortOfFileName(const std::string& name) {
  if (InDeviceNamespace(name)) {
    std::string rest = name.substr(4);
    if (name[2] == '.') {
      while (!rest.empty() && (rest.back() == ' ' || rest.back() == '.')) rest.pop_back();
    }
    return ComPort(rest, true);
  }
  return ComPort(DosDeviceStem(name), false);
}

bool NamesWindowsDevice(const std::string& path) {
  if (InDeviceNamespace(path)) {
    // "\\?\C:\dir\file" is a file's long path; a bare name there is a device.
    return path[2] == '.' || path.find_first_of("\\/", 4) == std::string::npos;
  }
  const std::string stem = DosDeviceStem(path);
  static const char* const kNames[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* reserved : kNames) {
    if (UpperText(stem) == reserved) return true;
  }
  return NumberedDevice(stem);
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

bool ParsePlace(const std::string& text, Place& place) {
  place = Place();
  place.port = NamedPort(text);
  return !place.port.empty() || ParseServerAddress(text, place.server);
}

bool SamePlace(const Place& a, const Place& b) {
  if (!a.port.empty() || !b.port.empty()) return a.port == b.port;
  return a.server.port == b.server.port && SameHost(a.server.host, b.server.host);
}

std::string PlaceName(const Place& place) { return place.port.empty() ? ServerName(place.server) : place.port; }

}  // namespace nbwire

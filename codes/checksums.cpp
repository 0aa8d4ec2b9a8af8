#include "codes/checksums.h"

#include <cctype>

namespace wlcodes {
namespace {

uint16_t Crc16Msb(const std::string& bytes, uint16_t crc) {
  for (unsigned char byte : bytes) {
    crc ^= static_cast<uint16_t>(byte << 8);
    for (int bit = 0; bit < 8; ++bit) crc = crc & 0x8000 ? static_cast<uint16_t>((crc << 1) ^ 0x1021) : crc << 1;
  }
  return crc;
}

std::string HighFirst(uint16_t value) {
  return {static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)};
}

// A frame's text without the CR and LF a line may end with.
std::string WithoutLineEnd(const std::string& text) {
  size_t end = text.size();
  while (end > 0 && (text[end - 1] == '\r' || text[end - 1] == '\n')) --end;
  return text.substr(0, end);
}

struct Named {
  const char* name;
  Checksum kind;
};
const Named kNames[] = {
    {"NMEA", Checksum::Nmea}, {"CRC16", Checksum::Crc16Modbus}, {"XMODEM", Checksum::Crc16Xmodem},
    {"CCITT", Checksum::Crc16Ccitt}, {"LRC", Checksum::Lrc}, {"SUM8", Checksum::Sum8},
    {"XOR8", Checksum::Xor8},
};

}  // namespace

bool ChecksumNamed(const std::string& name, Checksum& kind) {
  std::string word;
  for (char c : name) {
    if (c != ' ') word += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  for (const Named& n : kNames) {
    if (word == n.name) {
      kind = n.kind;
      return true;
    }
  }
  return false;
}

uint16_t Crc16Modbus(const std::string& bytes) {
  uint16_t crc = 0xFFFF;
  for (unsigned char byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = crc & 1 ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return crc;
}

uint16_t Crc16Xmodem(const std::string& bytes) { return Crc16Msb(bytes, 0); }

uint16_t Crc16Ccitt(const std::string& bytes) { return Crc16Msb(bytes, 0xFFFF); }

uint8_t Sum8(const std::string& bytes) {
  unsigned sum = 0;
  for (unsigned char byte : bytes) sum += byte;
  return static_cast<uint8_t>(sum);
}

uint8_t Lrc(const std::string& bytes) { return static_cast<uint8_t>(-Sum8(bytes)); }

uint8_t Xor8(const std::string& bytes) {
  uint8_t x = 0;
  for (unsigned char byte : bytes) x ^= byte;
  return x;
}

uint8_t NmeaChecksum(const std::string& sentence) {
  const size_t from = !sentence.empty() && (sentence[0] == '$' || sentence[0] == '!') ? 1 : 0;
  const size_t star = sentence.find('*', from);
  return Xor8(sentence.substr(from, star == std::string::npos ? std::string::npos : star - from));
}

size_t ChecksumSize(Checksum kind) {
  switch (kind) {
    case Checksum::Crc16Modbus:
    case Checksum::Crc16Xmodem:
    case Checksum::Crc16Ccitt:
      return 2;
    default:
      return 1;
  }
}

std::string ChecksumBytes(Checksum kind, const std::string& bytes) {
  switch (kind) {
    case Checksum::Nmea: return std::string(1, static_cast<char>(NmeaChecksum(bytes)));
    case Checksum::Crc16Modbus: {
      const uint16_t crc = Crc16Modbus(bytes);
      return {static_cast<char>(crc & 0xFF), static_cast<char>(crc >> 8)};
    }
    case Checksum::Crc16Xmodem: return HighFirst(Crc16Xmodem(bytes));
    case Checksum::Crc16Ccitt: return HighFirst(Crc16Ccitt(bytes));
    case Checksum::Lrc: return std::string(1, static_cast<char>(Lrc(bytes)));
    case Checksum::Sum8: return std::string(1, static_cast<char>(Sum8(bytes)));
    case Checksum::Xor8: return std::string(1, static_cast<char>(Xor8(bytes)));
  }
  return std::string();
}

bool FrameChecks(Checksum kind, const std::string& frame) {
  const size_t size = ChecksumSize(kind);
  if (frame.size() < size) return false;
  const std::string body = frame.substr(0, frame.size() - size);
  return ChecksumBytes(kind, body) == frame.substr(frame.size() - size);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string HexByte(uint8_t byte) {
  const char* digits = "0123456789ABCDEF";
  return {digits[byte >> 4], digits[byte & 15]};
}

bool SentenceChecks(const std::string& sentence) {
  const std::string s = WithoutLineEnd(sentence);
  if (s.size() < 4 || (s[0] != '$' && s[0] != '!') || s[s.size() - 3] != '*') return false;
  const int high = HexDigit(s[s.size() - 2]);
  const int low = HexDigit(s[s.size() - 1]);
  if (high < 0 || low < 0) return false;
  // The "*" before hh is the first: a sentence's fields hold none.
  return s.find('*') == s.size() - 3 && NmeaChecksum(s) == high * 16 + low;
}

bool AsciiFrameBytes(const std::string& frame, std::string& bytes) {
  const std::string s = WithoutLineEnd(frame);
  if (s.size() < 3 || s[0] != ':' || s.size() % 2 == 0) return false;
  std::string out;
  for (size_t at = 1; at < s.size(); at += 2) {
    const int high = HexDigit(s[at]);
    const int low = HexDigit(s[at + 1]);
    if (high < 0 || low < 0) return false;
    out += static_cast<char>(high * 16 + low);
  }
  bytes = out;
  return true;
}

}  // namespace wlcodes

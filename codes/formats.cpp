#include "codes/formats.h"

#include <cctype>
#include <cfloat>
#include <cstring>

namespace wlcodes {
namespace {

std::string Upper(const std::string& text) {
  std::string up;
  for (char c : text) up += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return up;
}

const char* const kOrders2[] = {"AB", "BA"};
const char* const kOrders4[] = {"ABCD", "DCBA", "BADC", "CDAB"};

bool KnownOrder(const std::string& order, int size) {
  if (size == 1) return order == "A";
  const char* const* orders = size == 2 ? kOrders2 : kOrders4;
  const size_t count = size == 2 ? 2 : 4;
  for (size_t k = 0; k < count; ++k) {
    if (order == orders[k]) return true;
  }
  return false;
}

// The value's bytes, most significant first, sent in the format's order.
std::string Ordered(const Format& format, uint32_t value) {
  std::string bytes;
  for (char letter : format.order) {
    const int fromTop = letter - 'A';
    bytes += static_cast<char>((value >> (8 * (format.size - 1 - fromTop))) & 0xFF);
  }
  return bytes;
}

uint32_t Unordered(const Format& format, const std::string& bytes, size_t at) {
  uint32_t value = 0;
  for (int k = 0; k < format.size; ++k) {
    const int fromTop = format.order[static_cast<size_t>(k)] - 'A';
    value |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + static_cast<size_t>(k)]))
             << (8 * (format.size - 1 - fromTop));
  }
  return value;
}

// Splits a layout's text at blanks.
std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  for (char c : text + " ") {
    if (c == ' ' || c == '\t') {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  return words;
}

// The index of the last number item (ParseLayout makes sure there is one).
size_t LastNumber(const std::vector<LayoutItem>& items) {
  size_t last = 0;
  for (size_t k = 0; k < items.size(); ++k) {
    if (!items[k].isChecksum) last = k;
  }
  return last;
}

}  // namespace

bool ParseFormat(const std::string& word, Format& format) {
  const std::string w = Upper(word);
  if (w.size() < 2) return false;
  Format f;
  switch (w[0]) {
    case 'U': f.type = NumberType::Unsigned; break;
    case 'S': f.type = NumberType::Signed; break;
    case 'F': f.type = NumberType::Float; break;
    default: return false;
  }
  size_t digits = 1;
  while (digits < w.size() && std::isdigit(static_cast<unsigned char>(w[digits]))) ++digits;
  const std::string bits = w.substr(1, digits - 1);
  if (bits == "8") {
    f.size = 1;
  } else if (bits == "16") {
    f.size = 2;
  } else if (bits == "32") {
    f.size = 4;
  } else {
    return false;
  }
  if (f.type == NumberType::Float && f.size != 4) return false;
  f.order = digits == w.size() ? std::string("ABCD", static_cast<size_t>(f.size)) : w.substr(digits);
  if (!KnownOrder(f.order, f.size)) return false;
  format = f;
  return true;
}

bool FitsWhole(const Format& format, int64_t value) {
  const int bits = 8 * format.size;
  if (format.type == NumberType::Unsigned) return value >= 0 && value <= (int64_t{1} << bits) - 1;
  if (format.type == NumberType::Signed) {
    return value >= -(int64_t{1} << (bits - 1)) && value <= (int64_t{1} << (bits - 1)) - 1;
  }
  return false;
}

std::string EncodeWhole(const Format& format, int64_t value) {
  return Ordered(format, static_cast<uint32_t>(value));
}

std::string EncodeFloat(const Format& format, float value) {
  uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  return Ordered(format, bits);
}

int64_t DecodeWhole(const Format& format, const std::string& bytes, size_t at) {
  const uint32_t value = Unordered(format, bytes, at);
  if (format.type != NumberType::Signed) return value;
  const int bits = 8 * format.size;
  const uint32_t sign = uint32_t{1} << (bits - 1);
  return value & sign ? static_cast<int64_t>(value) - (int64_t{1} << bits) : static_cast<int64_t>(value);
}

float DecodeFloat(const Format& format, const std::string& bytes, size_t at) {
  const uint32_t bits = Unordered(format, bytes, at);
  float value = 0;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

bool ParseLayout(const std::string& text, std::vector<LayoutItem>& items) {
  std::vector<LayoutItem> found;
  bool anyNumber = false;
  for (const std::string& word : Words(text)) {
    LayoutItem item;
    if (ParseFormat(word, item.format)) {
      anyNumber = true;
    } else if (ChecksumNamed(word, item.checksum)) {
      item.isChecksum = true;
    } else {
      return false;
    }
    found.push_back(item);
  }
  if (!anyNumber) return false;
  items = found;
  return true;
}

bool FitNumbers(const std::vector<LayoutItem>& items, size_t numbers, LayoutUse& use) {
  size_t needed = 0;
  for (const LayoutItem& item : items) needed += item.isChecksum ? 0 : 1;
  if (items.empty() || numbers < needed) return false;
  use.repeats.assign(items.size(), 1);
  use.repeats[LastNumber(items)] += numbers - needed;
  return true;
}

bool FitBytes(const std::vector<LayoutItem>& items, size_t bytes, LayoutUse& use) {
  size_t needed = 0;
  for (const LayoutItem& item : items) {
    needed += item.isChecksum ? ChecksumSize(item.checksum) : static_cast<size_t>(item.format.size);
  }
  if (items.empty() || bytes < needed) return false;
  const size_t last = LastNumber(items);
  const size_t size = static_cast<size_t>(items[last].format.size);
  if ((bytes - needed) % size != 0) return false;
  use.repeats.assign(items.size(), 1);
  use.repeats[last] += (bytes - needed) / size;
  return true;
}

}  // namespace wlcodes

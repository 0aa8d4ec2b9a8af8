#include "params.h"

#include <clocale>
#include <cmath>
#include <cstdlib>

#include "byte_scan.h"

namespace wl {
namespace {

constexpr size_t kUsualFieldCount = 4;

// text.find(c, from), looking at many bytes at a time: a send's text can be
// long.
size_t Find(const std::string& text, char c, size_t from) {
  if (from >= text.size()) return std::string::npos;
  const char* hit = FindByte(text.data() + from, text.size() - from, c);
  return hit ? static_cast<size_t>(hit - text.data()) : std::string::npos;
}

// Applies `visit` to each field of `text` by the comma rule; returns the count.
// A field starts after blanks; a quoted field runs to the next quote (or the
// end) and whatever follows it up to the next comma is dropped; an unquoted
// field runs to the next comma with its trailing blanks removed.
template <class Visit>
int ScanCommaFields(const std::string& text, Visit visit) {
  const size_t n = text.size();
  size_t pos = 0;
  int count = 0;
  for (;;) {
    while (pos < n && text[pos] == ' ') ++pos;
    bool more = false;
    ++count;
    if (pos < n && text[pos] == '"') {
      const size_t start = pos + 1;
      const size_t close = Find(text, '"', start);
      if (close == std::string::npos) {
        visit(start, n - start);
        pos = n;
      } else {
        visit(start, close - start);
        const size_t comma = Find(text, ',', close + 1);
        more = comma != std::string::npos;
        pos = more ? comma + 1 : n;
      }
    } else {
      const size_t comma = Find(text, ',', pos);
      size_t end = comma == std::string::npos ? n : comma;
      size_t last = end;
      while (last > pos && text[last - 1] == ' ') --last;
      visit(pos, last - pos);
      more = comma != std::string::npos;
      pos = more ? comma + 1 : n;
    }
    if (!more) return count;
  }
}

// Applies `visit` to each piece of `text` between non-overlapping occurrences
// of `delimiter`, found left to right; returns the count.
template <class Visit>
int ScanDelimitedFields(const std::string& text, const std::string& delimiter, Visit visit) {
  size_t pos = 0;
  int count = 1;
  for (size_t hit; (hit = text.find(delimiter, pos)) != std::string::npos; ++count) {
    visit(pos, hit - pos);
    pos = hit + delimiter.size();
  }
  visit(pos, text.size() - pos);
  return count;
}

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The "&" forms: "&H1F", "&O17", "&17", "&B101", with the sign rules of
// 16- and 32-bit literals and the "&", "&&", "?" and "%" suffixes.
long double ReadAmpersandNumber(const std::string& s, size_t i) {
  const size_t n = s.size();
  int base = 8;
  if (i < n) {
    switch (s[i]) {
      case 'H': case 'h': base = 16; ++i; break;
      case 'O': case 'o': case 'Q': case 'q': base = 8; ++i; break;
      case 'B': case 'b': base = 2; ++i; break;
      default: break;  // base 8, and this character is the first digit
    }
  }
  const size_t first = i;
  uint64_t value = 0;
  for (; i < n; ++i) {
    const int d = DigitValue(s[i]);
    if (d >= base) break;
    if (value > (UINT64_MAX - static_cast<uint64_t>(d)) / static_cast<uint64_t>(base)) {
      return 0;  // needs more than 64 bits
    }
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
  }
  if (i == first) return 0;
  const bool leadingZero = s[first] == '0';
  const bool amp = i < n && s[i] == '&';
  const bool doubleAmp = amp && i + 1 < n && s[i + 1] == '&';
  if (i < n && s[i] == '?') {
    return (value >> 63) ? 0.0L : static_cast<long double>(value);
  }
  if (!leadingZero && value >= 0x8000u && value <= 0xFFFFu && !amp) {
    return static_cast<long double>(static_cast<int64_t>(value) - 0x10000);
  }
  if (value >= 0x80000000u && value <= 0xFFFFFFFFu && !leadingZero && !doubleAmp) {
    return static_cast<long double>(static_cast<int64_t>(value) - 0x100000000LL);
  }
  return static_cast<long double>(static_cast<int64_t>(value));
}

// Decimal: [+|-] digits [. digits] [(E|e|D|d) [+|-] digits]. Scanned by hand
// so that nothing strtold would accept beyond this ("0x", "inf") gets in.
// A whole number of up to 18 digits from `i` on that nothing but the
// field's end or a character no number goes on with follows: exact as an
// integer, so the common case (ports, counts, codes) is read in place.
bool ReadPlainWhole(const std::string& s, size_t i, int64_t& whole) {
  const size_t n = s.size();
  const bool negative = i < n && s[i] == '-';
  if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
  const size_t first = i;
  int64_t value = 0;
  while (i < n && i - first < 18 && IsDigit(s[i])) value = value * 10 + (s[i++] - '0');
  const bool ends = i == n || !(IsDigit(s[i]) || s[i] == '.' || s[i] == 'E' || s[i] == 'e' ||
                                s[i] == 'D' || s[i] == 'd');
  whole = negative ? -value : value;
  return i > first && ends;
}

// Where a field's number starts: after its leading blanks.
size_t NumberStart(const std::string& field) {
  size_t i = 0;
  while (i < field.size() && (field[i] == ' ' || field[i] == '\t' || field[i] == '\n')) ++i;
  return i;
}

long double ReadDecimalNumber(const std::string& s, size_t i) {
  const size_t n = s.size();
  {
    int64_t whole = 0;
    if (ReadPlainWhole(s, i, whole)) {
      // "-0" keeps its sign, as the general reading gives it.
      const long double value = static_cast<long double>(whole);
      return s[i] == '-' ? -std::fabs(value) : value;
    }
  }
  std::string literal;
  if (i < n && (s[i] == '+' || s[i] == '-')) literal += s[i++];
  bool anyDigit = false;
  bool point = false;
  for (; i < n; ++i) {
    if (IsDigit(s[i])) {
      literal += s[i];
      anyDigit = true;
    } else if (s[i] == '.' && !point) {
      literal += '.';
      point = true;
    } else {
      break;
    }
  }
  if (!anyDigit) return 0;
  const bool hasExponent = i < n && (s[i] == 'E' || s[i] == 'e' || s[i] == 'D' || s[i] == 'd');
  if (!point && !hasExponent && literal.size() <= 18) {
    // A whole number of up to 18 digits is exact as an integer: the common
    // case (ports, counts, codes) skips strtold, which dominates an action.
    int64_t value = 0;
    for (char c : literal) {
      if (IsDigit(c)) value = value * 10 + (c - '0');
    }
    const long double whole = static_cast<long double>(value);
    return literal[0] == '-' ? -whole : whole;
  }
  if (hasExponent) {
    size_t j = i + 1;
    std::string exponent = "e";
    if (j < n && (s[j] == '+' || s[j] == '-')) exponent += s[j++];
    if (j < n && IsDigit(s[j])) {
      while (j < n && IsDigit(s[j])) exponent += s[j++];
      literal += exponent;
    }
  }
  // strtold reads the decimal point of the current C locale, which a host
  // may have changed.
  if (point) {
    const char* localePoint = std::localeconv()->decimal_point;
    if (localePoint && localePoint[0] && localePoint[0] != '.') {
      literal.replace(literal.find('.'), 1, localePoint);
    }
  }
  return std::strtold(literal.c_str(), nullptr);
}

}  // namespace

int CountFields(const std::string& text, const std::string& delimiter) {
  auto ignore = [](size_t, size_t) {};
  return delimiter.empty() ? ScanCommaFields(text, ignore)
                           : ScanDelimitedFields(text, delimiter, ignore);
}

std::vector<std::string> SplitFields(const std::string& text, const std::string& delimiter) {
  std::vector<std::string> fields;
  // Room for the fields of nearly every action at once: one allocation
  // instead of one for each field as the vector grows.
  fields.reserve(kUsualFieldCount);
  SplitFieldsInto(text, delimiter, fields);
  return fields;
}

void SplitFieldsInto(const std::string& text, const std::string& delimiter,
                     std::vector<std::string>& fields) {
  fields.clear();
  auto keep = [&](size_t start, size_t length) { fields.emplace_back(text, start, length); };
  if (delimiter.empty()) {
    ScanCommaFields(text, keep);
  } else {
    ScanDelimitedFields(text, delimiter, keep);
  }
}

long double ReadNumber(const std::string& field) {
  const size_t i = NumberStart(field);
  if (i < field.size() && field[i] == '&') return ReadAmpersandNumber(field, i + 1);
  return ReadDecimalNumber(field, i);
}

int64_t ToInteger(long double number) {
  if (std::isnan(number)) return 0;
  if (number >= 9223372036854775808.0L) return INT64_MAX;
  if (number < -9223372036854775808.0L) return INT64_MIN;
  // Exact in extended precision for every value in range; independent of
  // the FPU rounding mode the host left behind.
  const long double floor = std::floor(number);
  const long double fraction = number - floor;
  long double rounded = floor;
  if (fraction > 0.5L || (fraction == 0.5L && std::fmod(floor, 2.0L) != 0)) rounded += 1;
  if (rounded >= 9223372036854775808.0L) return INT64_MAX;
  return static_cast<int64_t>(rounded);
}

int64_t ReadInteger(const std::string& field) {
  int64_t whole = 0;
  if (ReadPlainWhole(field, NumberStart(field), whole)) return whole;
  return ToInteger(ReadNumber(field));
}

NumberChars::NumberChars(int64_t number) {
  uint64_t magnitude = number < 0 ? 0 - static_cast<uint64_t>(number) : static_cast<uint64_t>(number);
  size_t k = sizeof text_ - 1;
  text_[k] = '\0';
  // Digits of a magnitude that fits in 32 bits by 32-bit division: the
  // 64-bit one is a library call on this processor.
  for (; magnitude > UINT32_MAX; magnitude /= 10) text_[--k] = static_cast<char>('0' + magnitude % 10);
  uint32_t low = static_cast<uint32_t>(magnitude);
  do {
    text_[--k] = static_cast<char>('0' + low % 10);
    low /= 10;
  } while (low != 0);
  text_[--k] = number < 0 ? '-' : ' ';
  start_ = k;
}

std::string NumberText(int64_t number) {
  const NumberChars text(number);
  return std::string(text.c_str(), text.size());
}

int32_t FieldInteger(const std::string& field) {
  return static_cast<int32_t>(static_cast<uint32_t>(ReadInteger(field)));
}

}  // namespace wl

#include "editions/wirecodes/codes_actions.h"

#include <cctype>
#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "codes/checksums.h"
#include "codes/formats.h"
#include "editions/wirecodes/codes_errors.h"
#include "plugin/params.h"

namespace wl {
namespace wirecodes {
namespace {

using wlcodes::Format;
using wlcodes::LayoutItem;
using wlcodes::NumberType;

// Decimals a float is written with, as Math takes them.
constexpr int kMostDecimals = 15;

Outcome Failed(const std::string& variable, int error) { return {variable, error, std::string()}; }
Outcome Done(const std::string& variable, const std::string& value) { return {variable, kDone, value}; }

// The parameter text's fields by the comma rule, at least `fewest` (and at
// most `most`); false with the outcome to report otherwise.
bool TakeFields(const std::string& parameters, size_t fewest, size_t most, std::vector<std::string>& fields,
                Outcome& failed) {
  fields = SplitFields(parameters);
  const std::string variable = fields[0];
  if (fields.size() < fewest || fields.size() > most) {
    failed = Failed(variable, kFieldCount);
    return false;
  }
  if (variable.empty()) {
    failed = Failed(variable, kNoVariable);
    return false;
  }
  return true;
}

// "fields|text": the fields before the first "|" by the comma rule
// (exactly `count`), the text after it exactly as it stands.
bool TakeFieldsAndText(const std::string& parameters, size_t count, std::vector<std::string>& fields,
                       std::string& text, Outcome& failed) {
  const size_t bar = parameters.find('|');
  if (bar == std::string::npos) {
    failed = Failed(SplitFields(parameters)[0], kFieldCount);
    return false;
  }
  if (!TakeFields(parameters.substr(0, bar), count, count, fields, failed)) return false;
  text = parameters.substr(bar + 1);
  return true;
}

// Whether ReadNumber finds a number at the start of the field: a field it
// reads as 0 for want of digits is a mistake here, not a 0.
bool HasNumber(const std::string& field) {
  size_t i = 0;
  while (i < field.size() && (field[i] == ' ' || field[i] == '\t' || field[i] == '\n')) ++i;
  const auto digitOf = [&](size_t at, int base) {
    return at < field.size() && wlcodes::HexDigit(field[at]) >= 0 && wlcodes::HexDigit(field[at]) < base;
  };
  if (i < field.size() && field[i] == '&') {
    if (i + 1 >= field.size()) return false;
    switch (field[i + 1]) {
      case 'H': case 'h': return digitOf(i + 2, 16);
      case 'O': case 'o': case 'Q': case 'q': return digitOf(i + 2, 8);
      case 'B': case 'b': return digitOf(i + 2, 2);
      default: return digitOf(i + 1, 8);
    }
  }
  if (i < field.size() && (field[i] == '+' || field[i] == '-')) ++i;
  if (i < field.size() && field[i] == '.') ++i;
  return digitOf(i, 10);
}

// The "&" forms read as the unsigned numbers they write: ReadNumber signs
// &H8000 to &HFFFF as 16-bit and &H80000000 up as 32-bit numbers, which a
// "?" after the digits turns off. False when the digits need more than 63
// bits (ReadNumber gives 0 for those).
bool ReadUnsignedForm(const std::string& field, size_t amp, int64_t& value) {
  size_t i = amp + 1;
  int base = 8;
  switch (field[i]) {
    case 'H': case 'h': base = 16; ++i; break;
    case 'O': case 'o': case 'Q': case 'q': ++i; break;
    case 'B': case 'b': base = 2; ++i; break;
    default: break;
  }
  bool nonZero = false;
  for (; i < field.size() && wlcodes::HexDigit(field[i]) >= 0 && wlcodes::HexDigit(field[i]) < base; ++i) {
    nonZero = nonZero || field[i] != '0';
  }
  value = ToInteger(ReadNumber(field.substr(0, i) + "?"));
  return value != 0 || !nonZero;
}

// A whole-number field; the "&" forms unsigned where `unsignedForms`.
int ReadWhole(const std::string& field, bool unsignedForms, int64_t& value) {
  if (!HasNumber(field)) return kNotANumber;
  const size_t amp = field.find_first_not_of(" \t\n");
  if (unsignedForms && field[amp] == '&') return ReadUnsignedForm(field, amp, value) ? kDone : kOutOfRange;
  value = ToInteger(ReadNumber(field));
  return kDone;
}

// Fields from `from` on as byte codes, as wlCommSendASCII reads them.
int ReadCodes(const std::vector<std::string>& fields, size_t from, std::string& bytes) {
  for (size_t k = from; k < fields.size(); ++k) {
    if (!HasNumber(fields[k])) return kBadCode;
    const int64_t code = ToInteger(ReadNumber(fields[k]));
    if (code < 0 || code > 255) return kBadCode;
    bytes += static_cast<char>(code);
  }
  return kDone;
}

std::string CodesText(const std::string& bytes) {
  std::string text;
  text.reserve(bytes.size() * 5);
  for (unsigned char byte : bytes) {
    if (!text.empty()) text += ',';
    text += "&H" + wlcodes::HexByte(byte);
  }
  return text;
}

// Pairs of hexadecimal digits, blanks between them ignored.
bool HexBytes(const std::string& text, std::string& bytes) {
  std::string digits;
  for (char c : text) {
    if (c == ' ' || c == '\t') continue;
    if (wlcodes::HexDigit(c) < 0) return false;
    digits += c;
  }
  if (digits.size() % 2 != 0) return false;
  for (size_t at = 0; at < digits.size(); at += 2) {
    bytes += static_cast<char>(wlcodes::HexDigit(digits[at]) * 16 + wlcodes::HexDigit(digits[at + 1]));
  }
  return true;
}

// A Modbus ASCII frame's hex pairs: after an optional ":", before the CR
// and LF a line may end with.
bool AsciiPairs(const std::string& text, std::string& bytes) {
  size_t from = !text.empty() && text[0] == ':' ? 1 : 0;
  size_t end = text.size();
  while (end > from && (text[end - 1] == '\r' || text[end - 1] == '\n')) --end;
  return HexBytes(text.substr(from, end - from), bytes);
}

// A float with the decimals asked for, "." as the point whatever the C
// locale says (a host may have set one with ","), no "-" on a zero.
std::string FloatText(float value, int decimals) {
  // A float's whole part has at most 39 digits: with a sign, a point and
  // 15 decimals the text fits.
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, static_cast<double>(value));
  std::string text = buffer;
  const char* point = std::localeconv()->decimal_point;
  if (point != nullptr && point[0] != '\0' && point[0] != '.') {
    const size_t at = text.find(point[0]);
    if (at != std::string::npos) text[at] = '.';
  }
  if (text[0] == '-' && text.find_first_not_of("-0.") == std::string::npos) text.erase(0, 1);
  return text;
}

// One number of a layout to its bytes.
int EncodeNumber(const Format& format, const std::string& field, std::string& bytes) {
  if (format.type == NumberType::Float) {
    if (!HasNumber(field)) return kNotANumber;
    const long double number = ReadNumber(field);
    if (!std::isfinite(number) || std::fabs(number) > FLT_MAX) return kOutOfRange;
    bytes += wlcodes::EncodeFloat(format, static_cast<float>(number));
    return kDone;
  }
  int64_t value = 0;
  const int error = ReadWhole(field, format.type == NumberType::Unsigned, value);
  if (error != kDone) return error;
  if (!wlcodes::FitsWhole(format, value)) return kOutOfRange;
  bytes += wlcodes::EncodeWhole(format, value);
  return kDone;
}

// One number of a layout from its bytes.
int DecodeNumber(const Format& format, const std::string& bytes, size_t at, int decimals, std::string& text) {
  if (format.type != NumberType::Float) {
    text = std::to_string(wlcodes::DecodeWhole(format, bytes, at));
    return kDone;
  }
  const float value = wlcodes::DecodeFloat(format, bytes, at);
  if (!std::isfinite(value)) return kNotFinite;
  text = FloatText(value, decimals);
  return kDone;
}

// wcBits' operations on 32-bit values: the number for [wcErr], the value
// in `result`.
int Operate(const std::string& name, uint32_t a, int64_t b, uint32_t& result) {
  std::string op;
  for (char c : name) {
    if (c != ' ') op += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  const uint32_t ub = static_cast<uint32_t>(b);
  if (op == "AND") {
    result = a & ub;
  } else if (op == "OR") {
    result = a | ub;
  } else if (op == "XOR") {
    result = a ^ ub;
  } else if (op == "SHL" || op == "SHR" || op == "BIT") {
    if (b < 0 || b > 31) return kOutOfRange;
    result = op == "SHL" ? a << b : op == "SHR" ? a >> b : (a >> b) & 1u;
  } else if (op == "NOT") {
    // Within b bits (8 a byte, 16 a register), which a must fit in.
    if (b < 1 || b > 32 || uint64_t{a} >> b != 0) return kOutOfRange;
    result = static_cast<uint32_t>(~uint64_t{a} & ((uint64_t{1} << b) - 1));
  } else {
    return kUnknownKind;
  }
  return kDone;
}

}  // namespace

Outcome Checksum(const std::string& parameters) {
  std::vector<std::string> fields;
  Outcome failed;
  if (!TakeFields(parameters, 2, SIZE_MAX, fields, failed)) return failed;
  wlcodes::Checksum kind;
  if (!wlcodes::ChecksumNamed(fields[1], kind)) return Failed(fields[0], kUnknownKind);
  std::string bytes;
  if (const int error = ReadCodes(fields, 2, bytes)) return Failed(fields[0], error);
  return Done(fields[0], CodesText(wlcodes::ChecksumBytes(kind, bytes)));
}

Outcome ChecksumText(const std::string& parameters) {
  std::vector<std::string> fields;
  std::string text;
  Outcome failed;
  if (!TakeFieldsAndText(parameters, 2, fields, text, failed)) return failed;
  wlcodes::Checksum kind;
  if (!wlcodes::ChecksumNamed(fields[1], kind)) return Failed(fields[0], kUnknownKind);
  if (kind == wlcodes::Checksum::Nmea) return Done(fields[0], wlcodes::HexByte(wlcodes::NmeaChecksum(text)));
  if (kind == wlcodes::Checksum::Lrc) {
    std::string bytes;
    if (!AsciiPairs(text, bytes)) return Failed(fields[0], kNotHex);
    return Done(fields[0], wlcodes::HexByte(wlcodes::Lrc(bytes)));
  }
  return Done(fields[0], CodesText(wlcodes::ChecksumBytes(kind, text)));
}

Outcome Check(const std::string& parameters) {
  std::vector<std::string> fields;
  Outcome failed;
  if (!TakeFields(parameters, 2, SIZE_MAX, fields, failed)) return failed;
  wlcodes::Checksum kind;
  if (!wlcodes::ChecksumNamed(fields[1], kind)) return Failed(fields[0], kUnknownKind);
  std::string bytes;
  if (const int error = ReadCodes(fields, 2, bytes)) return Failed(fields[0], error);
  return Done(fields[0], wlcodes::FrameChecks(kind, bytes) ? "1" : "0");
}

Outcome CheckText(const std::string& parameters) {
  std::vector<std::string> fields;
  std::string text;
  Outcome failed;
  if (!TakeFieldsAndText(parameters, 2, fields, text, failed)) return failed;
  wlcodes::Checksum kind;
  if (!wlcodes::ChecksumNamed(fields[1], kind)) return Failed(fields[0], kUnknownKind);
  bool right = false;
  if (kind == wlcodes::Checksum::Nmea) {
    right = wlcodes::SentenceChecks(text);
  } else if (kind == wlcodes::Checksum::Lrc) {
    std::string bytes;
    right = wlcodes::AsciiFrameBytes(text, bytes) && wlcodes::FrameChecks(kind, bytes);
  } else {
    right = wlcodes::FrameChecks(kind, text);
  }
  return Done(fields[0], right ? "1" : "0");
}

Outcome TextToCodes(const std::string& parameters) {
  std::vector<std::string> fields;
  std::string text;
  Outcome failed;
  if (!TakeFieldsAndText(parameters, 1, fields, text, failed)) return failed;
  return Done(fields[0], CodesText(text));
}

Outcome CodesToText(const std::string& parameters) {
  std::vector<std::string> fields;
  Outcome failed;
  if (!TakeFields(parameters, 1, SIZE_MAX, fields, failed)) return failed;
  std::string bytes;
  if (const int error = ReadCodes(fields, 1, bytes)) return Failed(fields[0], error);
  if (bytes.find('\0') != std::string::npos) return Failed(fields[0], kZeroInText);
  return Done(fields[0], bytes);
}

Outcome HexToCodes(const std::string& parameters) {
  std::vector<std::string> fields;
  Outcome failed;
  if (!TakeFields(parameters, 2, 2, fields, failed)) return failed;
  std::string bytes;
  if (!HexBytes(fields[1], bytes)) return Failed(fields[0], kNotHex);
  return Done(fields[0], CodesText(bytes));
}

Outcome CodesToHex(const std::string& parameters) {
  std::vector<std::string> fields;
  Outcome failed;
  if (!TakeFields(parameters, 1, SIZE_MAX, fields, failed)) return failed;
  std::string bytes;
  if (const int error = ReadCodes(fields, 1, bytes)) return Failed(fields[0], error);
  std::string hex;
  for (unsigned char byte : bytes) hex += wlcodes::HexByte(byte);
  return Done(fields[0], hex);
}

Outcome Code(const std::string& parameters) {
  std::vector<std::string> fields;
  std::string text;
  Outcome failed;
  if (!TakeFieldsAndText(parameters, 1, fields, text, failed)) return failed;
  if (text.size() > 1) return Failed(fields[0], kNotOneCharacter);
  return Done(fields[0], std::to_string(text.empty() ? 0 : static_cast<unsigned char>(text[0])));
}

Outcome NumbersToCodes(const std::string& parameters) {
  std::vector<std::string> fields;
  Outcome failed;
  if (!TakeFields(parameters, 2, SIZE_MAX, fields, failed)) return failed;
  std::vector<LayoutItem> items;
  if (!wlcodes::ParseLayout(fields[1], items)) return Failed(fields[0], kUnknownKind);
  wlcodes::LayoutUse use;
  if (!wlcodes::FitNumbers(items, fields.size() - 2, use)) return Failed(fields[0], kDoesNotFit);
  std::string bytes;
  size_t next = 2;
  for (size_t k = 0; k < items.size(); ++k) {
    if (items[k].isChecksum) {
      bytes += wlcodes::ChecksumBytes(items[k].checksum, bytes);
      continue;
    }
    for (size_t n = 0; n < use.repeats[k]; ++n) {
      if (const int error = EncodeNumber(items[k].format, fields[next++], bytes)) return Failed(fields[0], error);
    }
  }
  return Done(fields[0], CodesText(bytes));
}

Outcome CodesToNumbers(const std::string& parameters) {
  std::vector<std::string> fields;
  Outcome failed;
  if (!TakeFields(parameters, 3, SIZE_MAX, fields, failed)) return failed;
  std::vector<LayoutItem> items;
  if (!wlcodes::ParseLayout(fields[1], items)) return Failed(fields[0], kUnknownKind);
  int64_t decimals = 0;
  if (const int error = ReadWhole(fields[2], false, decimals)) return Failed(fields[0], error);
  if (decimals < 0 || decimals > kMostDecimals) return Failed(fields[0], kOutOfRange);
  std::string bytes;
  if (const int error = ReadCodes(fields, 3, bytes)) return Failed(fields[0], error);
  wlcodes::LayoutUse use;
  if (!wlcodes::FitBytes(items, bytes.size(), use)) return Failed(fields[0], kDoesNotFit);
  std::string numbers;
  size_t at = 0;
  for (size_t k = 0; k < items.size(); ++k) {
    if (items[k].isChecksum) {
      const size_t size = wlcodes::ChecksumSize(items[k].checksum);
      if (wlcodes::ChecksumBytes(items[k].checksum, bytes.substr(0, at)) != bytes.substr(at, size)) {
        return Failed(fields[0], kWrongChecksum);
      }
      at += size;
      continue;
    }
    for (size_t n = 0; n < use.repeats[k]; ++n) {
      std::string text;
      if (const int error = DecodeNumber(items[k].format, bytes, at, static_cast<int>(decimals), text)) {
        return Failed(fields[0], error);
      }
      numbers += (numbers.empty() ? "" : ",") + text;
      at += static_cast<size_t>(items[k].format.size);
    }
  }
  return Done(fields[0], numbers);
}

Outcome Bits(const std::string& parameters) {
  std::vector<std::string> fields;
  Outcome failed;
  if (!TakeFields(parameters, 4, 4, fields, failed)) return failed;
  int64_t a = 0;
  int64_t b = 0;
  if (const int error = ReadWhole(fields[2], true, a)) return Failed(fields[0], error);
  if (const int error = ReadWhole(fields[3], true, b)) return Failed(fields[0], error);
  // Up to 32 bits either way: -2147483648 to 4294967295, negative numbers
  // as their two's complement.
  const auto in32 = [](int64_t v) { return v >= INT32_MIN && v <= int64_t{UINT32_MAX}; };
  if (!in32(a) || !in32(b)) return Failed(fields[0], kOutOfRange);
  uint32_t result = 0;
  if (const int error = Operate(fields[1], static_cast<uint32_t>(a), b, result)) return Failed(fields[0], error);
  return Done(fields[0], std::to_string(result));
}

}  // namespace wirecodes
}  // namespace wl

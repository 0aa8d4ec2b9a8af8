#include "device_values.h"

#include <cctype>
#include <cmath>
#include <cstdio>

namespace nbdevice {
namespace {

bool IsLetter(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }
bool IsDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

bool IsName(const std::string& word) {
  if (word.empty() || !IsLetter(word[0])) return false;
  for (char c : word) {
    if (!IsLetter(c) && !IsDigit(c) && c != '_') return false;
  }
  return true;
}

// Whole decimal digits into `value` (at most 18 of them, so no overflow).
bool ReadDigits(const std::string& text, size_t& at, int64_t& value) {
  const size_t start = at;
  value = 0;
  while (at < text.size() && IsDigit(text[at]) && at - start < 18) value = value * 10 + (text[at++] - '0');
  return at > start && (at == text.size() || !IsDigit(text[at]));
}

// A decimal number, perhaps signed, the whole of `text`.
bool ReadWhole(const std::string& text, int64_t& value) {
  size_t at = text.empty() || (text[0] != '-' && text[0] != '+') ? 0 : 1;
  if (!ReadDigits(text, at, value) || at != text.size()) return false;
  if (text[0] == '-') value = -value;
  return true;
}

// A decimal number with perhaps a fraction ("23.0", "-0.5").
bool ReadReal(const std::string& text, double& value, int* decimals = nullptr) {
  size_t at = text.empty() || text[0] != '-' ? 0 : 1;
  int64_t whole = 0, fraction = 0;
  if (!ReadDigits(text, at, whole)) return false;
  double scale = 1;
  int places = 0;
  if (at < text.size() && text[at] == '.') {
    const size_t start = ++at;
    if (!ReadDigits(text, at, fraction)) return false;
    places = static_cast<int>(at - start);
    scale = std::pow(10.0, places);
  }
  if (at != text.size()) return false;
  value = (static_cast<double>(whole) + static_cast<double>(fraction) / scale) * (text[0] == '-' ? -1 : 1);
  if (decimals != nullptr) *decimals = places;
  return true;
}

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  size_t at = 0;
  while (at < text.size()) {
    while (at < text.size() && text[at] == ' ') ++at;
    const size_t start = at;
    while (at < text.size() && text[at] != ' ') ++at;
    if (at > start) words.push_back(text.substr(start, at - start));
  }
  return words;
}

// A step of an expression; an operator's number 1 marks a ( waiting for its ).
Expression::Step MakeStep(Expression::Step::Kind kind, int64_t number = 0) {
  Expression::Step step;
  step.kind = kind;
  step.number = number;
  return step;
}

int Precedence(Expression::Step::Kind kind) {
  return kind == Expression::Step::Mul || kind == Expression::Step::Div ? 2 : 1;
}

// One term of an expression at `at`: a number, #N, #Nle, $N or a name.
bool ReadTerm(const std::string& text, size_t& at, Expression::Step& step) {
  if (text.compare(at, 2, "0x") == 0) {
    at += 2;
    const size_t start = at;
    step = MakeStep(Expression::Step::Number);
    while (at < text.size() && wlcodes::HexDigit(text[at]) >= 0 && at - start < 15) {
      step.number = step.number * 16 + wlcodes::HexDigit(text[at++]);
    }
    return at > start;
  }
  if (IsDigit(text[at])) {
    step = MakeStep(Expression::Step::Number);
    return ReadDigits(text, at, step.number);
  }
  if (text[at] == '#' || text[at] == '$') {
    const bool binary = text[at++] == '#';
    step = MakeStep(binary ? Expression::Step::Capture : Expression::Step::CaptureText);
    if (!ReadDigits(text, at, step.number) || step.number > static_cast<int64_t>(kMostGroups)) return false;
    if (binary && text.compare(at, 2, "le") == 0) {
      step.kind = Expression::Step::CaptureLe;
      at += 2;
    }
    return true;
  }
  const size_t start = at;
  while (at < text.size() && (IsLetter(text[at]) || IsDigit(text[at]) || text[at] == '_')) ++at;
  step = MakeStep(Expression::Step::Name);
  step.name = text.substr(start, at - start);
  return IsName(step.name);
}

// Reads `text` into postfix steps (operators after their operands, by
// precedence), without recursion.
bool ReadExpression(const std::string& text, Expression& expression, std::string& why) {
  why = "the number " + text + " is not one (numbers, #N, #Nle, $N and names with + - * / and ( ), no blanks)";
  if (text.empty() || text.size() > kLongestExpression) return false;
  std::vector<Expression::Step> operators;
  bool operand = true;                      // an operand comes next
  for (size_t at = 0; at < text.size();) {
    const char c = text[at];
    if (operand && c == '(') {
      operators.push_back(MakeStep(Expression::Step::Add, 1));
      ++at;
    } else if (operand) {
      Expression::Step step;
      if (!ReadTerm(text, at, step)) return false;
      expression.steps.push_back(step);
      operand = false;
    } else if (c == ')') {
      while (!operators.empty() && operators.back().number == 0) {
        expression.steps.push_back(operators.back());
        operators.pop_back();
      }
      if (operators.empty()) return false;
      operators.pop_back();
      ++at;
    } else {
      const std::string signs = "+-*/";
      const size_t sign = signs.find(c);
      if (sign == std::string::npos) return false;
      const auto kind = static_cast<Expression::Step::Kind>(Expression::Step::Add + sign);
      while (!operators.empty() && operators.back().number == 0 &&
             Precedence(operators.back().kind) >= Precedence(kind)) {
        expression.steps.push_back(operators.back());
        operators.pop_back();
      }
      operators.push_back(MakeStep(kind));
      operand = true;
      ++at;
    }
  }
  for (; !operators.empty(); operators.pop_back()) {
    if (operators.back().number != 0) return false;  // a ( never closed
    expression.steps.push_back(operators.back());
  }
  return !operand;
}

bool CaptureBytes(const Making& making, int64_t group, std::string& bytes) {
  if (making.request == nullptr || making.captures == nullptr) return false;
  const size_t slot = static_cast<size_t>(group) * 2;
  if (static_cast<size_t>(group) > making.groups || slot + 1 >= making.captures->size()) return false;
  const int start = (*making.captures)[slot], end = (*making.captures)[slot + 1];
  if (start < 0 || end < start || static_cast<size_t>(end) > making.request->size()) return false;
  bytes = making.request->substr(start, end - start);
  return true;
}

bool Term(const Expression::Step& step, const Making& making, int64_t& value) {
  std::string bytes;
  switch (step.kind) {
    case Expression::Step::Number: value = step.number; return true;
    case Expression::Step::Capture:
    case Expression::Step::CaptureLe: {
      if (!CaptureBytes(making, step.number, bytes) || bytes.size() > 7) return false;
      uint64_t number = 0;
      for (size_t k = 0; k < bytes.size(); ++k) {
        const size_t at = step.kind == Expression::Step::Capture ? k : bytes.size() - 1 - k;
        number = number << 8 | static_cast<unsigned char>(bytes[at]);
      }
      value = static_cast<int64_t>(number);
      return true;
    }
    case Expression::Step::CaptureText: return CaptureBytes(making, step.number, bytes) && ReadWhole(bytes, value);
    case Expression::Step::Name: {
      const auto found = making.state->values.find(step.name);
      return found != making.state->values.end() && ReadWhole(found->second, value);
    }
    default: return false;
  }
}

// The binary forms: u8 u16 u16le u32 u32le.
bool BinaryForm(const std::string& word, int& bytes, bool& little) {
  static const struct { const char* name; int bytes; bool little; } kForms[] = {
      {"u8", 1, false}, {"u16", 2, false}, {"u16le", 2, true}, {"u32", 4, false}, {"u32le", 4, true}};
  for (const auto& form : kForms) {
    if (word != form.name) continue;
    bytes = form.bytes;
    little = form.little;
    return true;
  }
  return false;
}

void PutBinary(uint64_t value, int bytes, bool little, std::string& out) {
  for (int k = 0; k < bytes; ++k) {
    const int shift = 8 * (little ? k : bytes - 1 - k);
    out += static_cast<char>((value >> shift) & 0xFF);
  }
}

// A time of day's or a date's form: its letters in runs (hh mm ss and the
// s's of a fraction; dd mm yy yyyy), anything else itself.
bool ReadForm(const std::string& form, bool time) {
  bool any = false;
  for (size_t at = 0; at < form.size();) {
    size_t run = 1;
    while (at + run < form.size() && form[at + run] == form[at]) ++run;
    const char c = form[at];
    const bool fraction = time && c == 's' && at > 0 && form[at - 1] == '.';
    if (IsLetter(c)) {
      const bool known = time ? ((c == 'h' || c == 'm' || c == 's') && run == 2) || (fraction && run <= 3)
                              : ((c == 'd' || c == 'm') && run == 2) || (c == 'y' && (run == 2 || run == 4));
      if (!known) return false;
      any = true;
    } else if (run > 1 || !std::ispunct(static_cast<unsigned char>(c))) {
      return false;
    }
    at += run;
  }
  return any;
}

std::string TwoDigits(int64_t value) {
  return std::string(1, static_cast<char>('0' + value / 10 % 10)) + static_cast<char>('0' + value % 10);
}

// Days since 1970-01-01 as a year, month and day (the proleptic Gregorian
// calendar, the civil-from-days method).
void CivilDate(int64_t days, int64_t& year, int64_t& month, int64_t& day) {
  days += 719468;
  const int64_t era = days / 146097;
  const int64_t ofEra = days - era * 146097;
  const int64_t yearOfEra = (ofEra - ofEra / 1460 + ofEra / 36524 - ofEra / 146096) / 365;
  const int64_t ofYear = ofEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t shifted = (5 * ofYear + 2) / 153;
  day = ofYear - (153 * shifted + 2) / 5 + 1;
  month = shifted < 10 ? shifted + 3 : shifted - 9;
  year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
}

std::string Clock(const std::string& form, bool time, int64_t utcMs) {
  if (utcMs < 0) utcMs = 0;
  const int64_t ofDay = utcMs % 86400000;
  int64_t year = 0, month = 0, day = 0;
  CivilDate(utcMs / 86400000, year, month, day);
  std::string out;
  for (size_t at = 0; at < form.size();) {
    size_t run = 1;
    while (at + run < form.size() && form[at + run] == form[at]) ++run;
    const char c = form[at];
    if (time && c == 's' && at > 0 && form[at - 1] == '.') {
      const std::string thousandths = std::to_string(1000 + ofDay % 1000).substr(1);
      out += thousandths.substr(0, run);
    } else if (time && c == 'h') {
      out += TwoDigits(ofDay / 3600000);
    } else if (time && c == 'm') {
      out += TwoDigits(ofDay / 60000 % 60);
    } else if (time && c == 's') {
      out += TwoDigits(ofDay / 1000 % 60);
    } else if (!time && c == 'd') {
      out += TwoDigits(day);
    } else if (!time && c == 'm') {
      out += TwoDigits(month);
    } else if (!time && c == 'y') {
      out += run == 4 ? TwoDigits(year / 100) + TwoDigits(year) : TwoDigits(year);
    } else {
      out.append(run, c);
    }
    at += run;
  }
  return out;
}

bool ReadCheck(const std::vector<std::string>& words, Field& field) {
  static const struct { const char* name; wlcodes::Checksum kind; } kChecks[] = {
      {"nmea", wlcodes::Checksum::Nmea}, {"crc16", wlcodes::Checksum::Crc16Modbus},
      {"lrc", wlcodes::Checksum::Lrc},   {"sum8", wlcodes::Checksum::Sum8},
      {"xor8", wlcodes::Checksum::Xor8}};
  for (const auto& check : kChecks) {
    if (words[0] != check.name) continue;
    field.kind = Field::Kind::Check;
    field.check = check.kind;
    size_t at = 1;
    if (check.kind == wlcodes::Checksum::Nmea) return words.size() == 1;
    int64_t from = 0;
    size_t digit = 0;
    if (at < words.size() && words[at] == "from") {
      if (at + 1 >= words.size() || !ReadDigits(words[at + 1], digit, from) || digit != words[at + 1].size() ||
          from > 65536) {
        return false;
      }
      field.from = static_cast<uint32_t>(from);
      at += 2;
    }
    if (at < words.size() && words[at] == "hex") {
      field.hex = true;
      ++at;
    }
    return at == words.size();
  }
  return false;
}

bool ReadOptionalFormat(const std::vector<std::string>& words, size_t at, Field& field) {
  if (at == words.size()) return true;
  return at + 1 == words.size() && ReadNumberFormat(words[at], field.format);
}

// The inside of a { } into `field`; false with the reason.
bool ReadField(const std::string& inside, Field& field, size_t& walks, std::string& why) {
  const std::vector<std::string> words = Words(inside);
  why = "{" + inside + "} is not a template";
  if (words.empty()) return false;
  if (ReadCheck(words, field)) return true;
  if (field.kind == Field::Kind::Check) return false;
  int bytes = 0;
  bool little = false;
  if (words[0] == "count") {
    field.kind = Field::Kind::Count;
    if (words.size() < 2 || !IsName(words[1]) || !ReadOptionalFormat(words, 2, field)) return false;
    field.text = words[1];
    return true;
  }
  if (words[0] == "walk") {
    field.kind = Field::Kind::Walk;
    int decimals = 0;
    const size_t dots = words.size() >= 4 ? words[3].find("..") : std::string::npos;
    if (dots == std::string::npos || !ReadReal(words[1], field.start, &decimals) ||
        !ReadReal(words[2], field.step) || !ReadReal(words[3].substr(0, dots), field.low) ||
        !ReadReal(words[3].substr(dots + 2), field.high) || field.low > field.high || field.step < 0) {
      why = "{" + inside + "}: walk takes a start, a step and a range, as in {walk 23.0 0.1 20..25 %.1f}";
      return false;
    }
    field.format.conversion = 'f';
    field.format.precision = decimals;
    field.walk = walks++;
    return ReadOptionalFormat(words, 4, field);
  }
  if (words[0] == "time" || words[0] == "date") {
    field.kind = words[0] == "time" ? Field::Kind::Time : Field::Kind::Date;
    field.text = words.size() == 2 ? words[1] : "";
    if (words.size() == 2 && ReadForm(words[1], field.kind == Field::Kind::Time)) return true;
    why = "{" + inside + "}: " + words[0] + " takes a form such as " +
          (field.kind == Field::Kind::Time ? "hhmmss.ss or hh:mm:ss" : "ddmmyy or yyyy-mm-dd");
    return false;
  }
  if (BinaryForm(words[0], bytes, little)) {
    field.bytes = bytes;
    field.little = little;
    if (words.size() == 2) {
      field.kind = Field::Kind::Binary;
      return ReadExpression(words[1], field.value, why);
    }
    field.kind = Field::Kind::TableBinary;
    field.text = words.size() == 4 ? words[1] : "";
    if (!IsName(field.text)) {
      why = "{" + inside + "}: " + words[0] + " takes a number, or a table, a first entry and a count";
      return false;
    }
    return ReadExpression(words[2], field.value, why) && ReadExpression(words[3], field.count, why);
  }
  if (words.size() == 1 && IsName(words[0])) {
    field.kind = Field::Kind::Value;
    field.text = words[0];
    return true;
  }
  field.kind = Field::Kind::Number;
  if (!ReadExpression(words[0], field.value, why)) return false;
  if (words.size() == 1 && field.value.steps.size() == 1 && field.value.steps[0].kind == Expression::Step::CaptureText) {
    field.kind = Field::Kind::Capture;  // {$1}: the group's text as it came
    return true;
  }
  if (ReadOptionalFormat(words, 1, field)) return true;
  why = "{" + inside + "}: a number's form is printf's, as %d, %5.1f or %04X";
  return false;
}

bool FillField(const Field& field, const Making& making, std::string& sent) {
  DeviceState& state = *making.state;
  int64_t value = 0, count = 0;
  switch (field.kind) {
    case Field::Kind::Literal:
      sent += making.captures ? ExpandAnswer(field.text, *making.request, *making.captures, making.groups)
                              : field.text;
      return true;
    case Field::Kind::Value: {
      const auto found = state.values.find(field.text);
      if (found == state.values.end()) return false;
      sent += found->second;
      return true;
    }
    case Field::Kind::Capture: {
      std::string text;
      if (!CaptureBytes(making, field.value.steps[0].number, text)) return false;
      sent += text;
      return true;
    }
    case Field::Kind::Number:
      if (!Evaluate(field.value, making, value)) return false;
      sent += FormatNumber(static_cast<double>(value), field.format);
      return true;
    case Field::Kind::Binary:
      if (!Evaluate(field.value, making, value)) return false;
      PutBinary(static_cast<uint64_t>(value), field.bytes, field.little, sent);
      return true;
    case Field::Kind::TableBinary: {
      const auto table = state.tables.find(field.text);
      if (table == state.tables.end() || !Evaluate(field.value, making, value) ||
          !Evaluate(field.count, making, count)) {
        return false;
      }
      const int64_t first = value - table->second.first;
      const int64_t size = static_cast<int64_t>(table->second.entries.size());
      if (count < 0 || first < 0 || first > size || count > size - first) return false;
      for (int64_t k = 0; k < count; ++k) {
        PutBinary(static_cast<uint64_t>(table->second.entries[first + k]), field.bytes, field.little, sent);
      }
      return true;
    }
    case Field::Kind::Count: {
      std::string& held = state.values[field.text];
      if (!held.empty() && !ReadWhole(held, value)) return false;
      held = std::to_string(value + 1);
      sent += FormatNumber(static_cast<double>(value + 1), field.format);
      return true;
    }
    case Field::Kind::Walk: {
      double& at = state.walks[field.walk];
      at = std::min(field.high, std::max(field.low, at + (making.random->unit() * 2 - 1) * field.step));
      sent += FormatNumber(at, field.format);
      return true;
    }
    case Field::Kind::Time:
    case Field::Kind::Date: sent += Clock(field.text, field.kind == Field::Kind::Time, making.utcMs); return true;
    case Field::Kind::Check: {
      if (field.check == wlcodes::Checksum::Nmea) {
        const size_t start = sent.find_last_of("$!");
        sent += wlcodes::HexByte(wlcodes::NmeaChecksum(start == std::string::npos ? sent : sent.substr(start)));
        return true;
      }
      const std::string sum =
          wlcodes::ChecksumBytes(field.check, field.from < sent.size() ? sent.substr(field.from) : "");
      if (!field.hex) {
        sent += sum;
        return true;
      }
      for (char byte : sum) sent += wlcodes::HexByte(static_cast<uint8_t>(byte));
      return true;
    }
  }
  return false;
}

}  // namespace

uint64_t Random::next() {
  uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

bool ReadNumberFormat(const std::string& text, NumberFormat& format) {
  format = NumberFormat();
  size_t at = 1;
  if (text.empty() || text[0] != '%') return false;
  for (; at < text.size(); ++at) {
    const char c = text[at];
    if (c == '-') format.left = true;
    else if (c == '+') format.plus = true;
    else if (c == '0') format.zeros = true;
    else if (c == ' ') format.space = true;
    else break;
  }
  int64_t number = 0;
  if (at < text.size() && IsDigit(text[at])) {
    if (!ReadDigits(text, at, number) || number > kWidestNumber) return false;
    format.width = static_cast<int>(number);
  }
  if (at < text.size() && text[at] == '.') {
    ++at;
    if (!ReadDigits(text, at, number) || number > kMostDecimals) return false;
    format.precision = static_cast<int>(number);
  }
  if (at + 1 != text.size() || std::string("duxXf").find(text[at]) == std::string::npos) return false;
  format.conversion = text[at];
  return true;
}

std::string FormatNumber(double value, const NumberFormat& format) {
  const bool negative = value < 0 && format.conversion != 'u' && format.conversion != 'x' && format.conversion != 'X';
  std::string body;
  if (!std::isfinite(value)) value = 0;
  if (format.conversion == 'f') {
    char text[400];
    // The format is this code's own; only the precision, read above, is the author's.
    std::snprintf(text, sizeof text, "%.*f", format.precision < 0 ? 6 : format.precision, std::fabs(value));
    body = text;
  } else {
    const double rounded = std::round(value);
    const double limit = 9.2e18;
    const int64_t whole = static_cast<int64_t>(std::max(-limit, std::min(limit, rounded)));
    uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(whole) : static_cast<uint64_t>(whole);
    const int base = format.conversion == 'x' || format.conversion == 'X' ? 16 : 10;
    const char* digits = format.conversion == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
    do {
      body.insert(body.begin(), digits[magnitude % base]);
      magnitude /= base;
    } while (magnitude != 0);
    if (format.precision > 0 && body.size() < static_cast<size_t>(format.precision)) {
      body.insert(0, format.precision - body.size(), '0');
    }
  }
  const std::string sign = negative ? "-" : format.plus ? "+" : format.space ? " " : "";
  const size_t used = sign.size() + body.size();
  const size_t width = static_cast<size_t>(format.width);
  if (used >= width) return sign + body;
  if (format.left) return sign + body + std::string(width - used, ' ');
  if (format.zeros) return sign + std::string(width - used, '0') + body;
  return std::string(width - used, ' ') + sign + body;
}

bool ReadTemplate(const std::string& text, Template& made, size_t& walks, std::string& why) {
  made.fields.clear();
  auto literal = [&](const std::string& bytes) {
    if (made.fields.empty() || made.fields.back().kind != Field::Kind::Literal) made.fields.emplace_back();
    made.fields.back().text += bytes;
  };
  for (size_t at = 0; at < text.size(); ++at) {
    const char next = at + 1 < text.size() ? text[at + 1] : '\0';
    if (text[at] != '{' || (!IsLetter(next) && next != '#' && next != '$' && next != '{')) {
      literal(std::string(1, text[at]));
      continue;
    }
    if (next == '{') {
      literal("{");
      ++at;
      continue;
    }
    const size_t close = text.find('}', at);
    Field field;
    if (close == std::string::npos) {
      why = "a { is never closed (write {{ for a brace)";
      return false;
    }
    if (!ReadField(text.substr(at + 1, close - at - 1), field, walks, why)) {
      why += " (write {{ for a brace)";
      return false;
    }
    made.fields.push_back(field);
    at = close;
  }
  return true;
}

void NamesRead(const Template& made, std::vector<std::string>& values, std::vector<std::string>& tables) {
  auto fromExpression = [&](const Expression& expression) {
    for (const Expression::Step& step : expression.steps) {
      if (step.kind == Expression::Step::Name) values.push_back(step.name);
    }
  };
  for (const Field& field : made.fields) {
    if (field.kind == Field::Kind::Value) values.push_back(field.text);
    if (field.kind == Field::Kind::TableBinary) tables.push_back(field.text);
    fromExpression(field.value);
    fromExpression(field.count);
  }
}

bool Evaluate(const Expression& expression, const Making& making, int64_t& value) {
  std::vector<int64_t> stack;
  for (const Expression::Step& step : expression.steps) {
    if (step.kind < Expression::Step::Add) {
      if (!Term(step, making, value)) return false;
      stack.push_back(value);
      continue;
    }
    if (stack.size() < 2) return false;
    const uint64_t right = static_cast<uint64_t>(stack.back());
    stack.pop_back();
    const uint64_t left = static_cast<uint64_t>(stack.back());
    int64_t& result = stack.back();
    // Whole numbers wrap rather than overflow; only / can fail.
    switch (step.kind) {
      case Expression::Step::Add: result = static_cast<int64_t>(left + right); break;
      case Expression::Step::Sub: result = static_cast<int64_t>(left - right); break;
      case Expression::Step::Mul: result = static_cast<int64_t>(left * right); break;
      default:
        if (right == 0 || (static_cast<int64_t>(right) == -1 && static_cast<int64_t>(left) == INT64_MIN)) return false;
        result = static_cast<int64_t>(left) / static_cast<int64_t>(right);
    }
  }
  if (stack.size() != 1) return false;
  value = stack.back();
  return true;
}

bool Fill(const Template& made, const Making& making, std::string& sent) {
  for (const Field& field : made.fields) {
    if (!FillField(field, making, sent)) return false;
  }
  return true;
}

}  // namespace nbdevice

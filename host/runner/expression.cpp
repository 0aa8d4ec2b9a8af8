#include "expression.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "script.h"

namespace nbrun {
namespace {

// Reads + - * / and parentheses by recursive descent. With `references`, a
// [name] stands for a number whose value is not known yet: the form is
// checked and the value is meaningless.
class Parser {
 public:
  Parser(const std::string& text, bool references) : text_(text), references_(references) {}

  bool read(double& value, std::string& error) {
    value = sum();
    skipBlanks();
    if (at_ < text_.size()) {
      fail(text_[at_] == ')' ? "a \")\" without its \"(\"" : "expected an operator");
    }
    // A text that cannot be read says so first, in the words the check at
    // load uses; only a readable one divides by zero.
    if (error_.empty() && dividedByZero_) error_ = "division by zero";
    error = error_;
    return error_.empty();
  }

 private:
  double sum() {
    double value = product();
    while (error_.empty() && skipBlanks() && (peek() == '+' || peek() == '-')) {
      const char op = text_[at_++];
      const double right = product();
      value = op == '+' ? value + right : value - right;
    }
    return value;
  }

  double product() {
    double value = factor();
    while (error_.empty() && skipBlanks() && (peek() == '*' || peek() == '/')) {
      const char op = text_[at_++];
      const double right = factor();
      if (op == '*') {
        value *= right;
      } else if (right == 0 && !references_) {
        dividedByZero_ = true;
      } else {
        value /= right;
      }
    }
    return value;
  }

  // Signs are read in a loop: a long run of them must not exhaust the stack.
  double factor() {
    bool negative = false;
    while (skipBlanks() && (peek() == '+' || peek() == '-')) negative ^= text_[at_++] == '-';
    const double value = primary();
    return negative ? -value : value;
  }

  double primary() {
    if (peek() == '(') {
      // Deep enough for any formula, shallow enough for the stack.
      if (++depth_ > 64) return fail("parentheses nested too deep");
      ++at_;
      const double value = sum();
      --depth_;
      if (!skipBlanks() || peek() != ')') return fail("a \"(\" is never closed");
      ++at_;
      return value;
    }
    if (peek() == '[' && references_) {
      const size_t close = text_.find(']', at_);
      if (close == std::string::npos) return fail("a \"[\" is never closed");
      at_ = close + 1;
      return 1;
    }
    const size_t start = at_;
    while (std::isdigit(static_cast<unsigned char>(peek())) || peek() == '.') ++at_;
    double value = 0;
    if (!ReadNumber(text_.substr(start, at_ - start), value)) {
      at_ = start;
      return fail("expected a number");
    }
    return value;
  }

  char peek() const { return at_ < text_.size() ? text_[at_] : '\0'; }

  // Always true, so it can lead a loop's condition.
  bool skipBlanks() {
    while (peek() == ' ' || peek() == '\t') ++at_;
    return true;
  }

  double fail(const std::string& why) {
    if (error_.empty()) {
      error_ = why + (at_ < text_.size() ? " at \"" + text_.substr(at_) + "\"" : " at the end");
    }
    return 0;
  }

  const std::string& text_;
  const bool references_;
  size_t at_ = 0;
  int depth_ = 0;
  bool dividedByZero_ = false;
  std::string error_;
};

}  // namespace

bool ReadNumber(const std::string& text, double& value) {
  const std::string number = nbwire::Trimmed(text, " \t");
  size_t at = !number.empty() && (number[0] == '+' || number[0] == '-') ? 1 : 0;
  int digits = 0, points = 0;
  for (; at < number.size(); ++at) {
    if (std::isdigit(static_cast<unsigned char>(number[at]))) {
      ++digits;
    } else if (number[at] == '.') {
      ++points;
    } else {
      return false;
    }
  }
  if (digits == 0 || points > 1) return false;
  value = std::strtod(number.c_str(), nullptr);
  return std::isfinite(value);
}

bool ReadWholeNumber(const std::string& text, int& value) {
  double number = 0;
  if (!ReadNumber(text, number) || number != std::floor(number) || std::fabs(number) > 999999999) {
    return false;
  }
  value = static_cast<int>(number);
  return true;
}

bool ReadOperator(const std::string& text, Operator& op) {
  static const struct {
    const char* text;
    Operator op;
  } kOperators[] = {{"=", Operator::Equal},           {"<>", Operator::NotEqual},
                    {">", Operator::Greater},         {"<", Operator::Less},
                    {">=", Operator::GreaterOrEqual}, {"<=", Operator::LessOrEqual}};
  const std::string written = nbwire::Trimmed(text, " \t");
  for (const auto& entry : kOperators) {
    if (written == entry.text) {
      op = entry.op;
      return true;
    }
  }
  return false;
}

bool Compare(const std::string& left, Operator op, const std::string& right) {
  double a = 0, b = 0;
  int order = 0;
  if (ReadNumber(left, a) && ReadNumber(right, b)) {
    order = (a > b) - (a < b);
  } else {
    order = LowerCase(left).compare(LowerCase(right));
  }
  switch (op) {
    case Operator::Equal: return order == 0;
    case Operator::NotEqual: return order != 0;
    case Operator::Greater: return order > 0;
    case Operator::Less: return order < 0;
    case Operator::GreaterOrEqual: return order >= 0;
    case Operator::LessOrEqual: return order <= 0;
  }
  return false;
}

std::string CheckExpression(const std::string& expression) {
  double ignored = 0;
  std::string error;
  Parser(expression, true).read(ignored, error);
  return error;
}

bool Evaluate(const std::string& expression, double& value, std::string& error) {
  if (!Parser(expression, false).read(value, error)) return false;
  if (std::isfinite(value)) return true;
  error = "the result is too large";
  return false;
}

std::string FormatNumber(double value, int decimals) {
  // 15 significant digits, all a double holds for sure: binary noise such as
  // 0.30000000000000004 then never decides a rounding.
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.14e", std::fabs(value));
  const std::string digits = std::string(1, buffer[0]) + std::string(buffer + 2, 14);
  const int exponent = std::atoi(std::strchr(buffer, 'e') + 1);

  // The digits kept, as a whole number of units of 10^-decimals.
  const int keep = exponent + 1 + decimals;
  std::string kept;
  if (keep < 0) {
    kept = "0";
  } else if (keep >= 15) {
    kept = digits + std::string(static_cast<size_t>(keep - 15), '0');
  } else {
    kept = "0" + digits.substr(0, static_cast<size_t>(keep));
    if (digits[static_cast<size_t>(keep)] >= '5') {  // half away from zero
      size_t i = kept.size() - 1;
      while (kept[i] == '9') kept[i--] = '0';
      ++kept[i];
    }
  }
  kept.erase(0, kept.find_first_not_of('0'));
  const bool negative = value < 0 && !kept.empty();
  const size_t width = static_cast<size_t>(decimals) + 1;
  if (kept.size() < width) kept.insert(0, width - kept.size(), '0');

  std::string text = negative ? "-" : "";
  text += kept.substr(0, kept.size() - static_cast<size_t>(decimals));
  if (decimals > 0) text += "." + kept.substr(kept.size() - static_cast<size_t>(decimals));
  return text;
}

}  // namespace nbrun

// Numbers, conditions and Math expressions as the runner's statements read
// them, after [name] substitution.
//
// A number is an optional sign and digits with at most one decimal point,
// blanks around allowed: "12", " 0" (as the plug-in writes it), "-3.5", ".5".
// Nothing else reads as a number (no exponent, no "&H", no thousands marks),
// so a reading such as "ST,GS,+0012.34 kg" stays text.
//
// Conditions (If, While): when both sides read as numbers they compare as
// numbers (" 0" equals "0.00"); otherwise as texts, ignoring the case of the
// letters A to Z, as NeoBook authors expect of If ("OK" equals "ok").
//
// Math: + - * / with parentheses and signs on numbers; the result is rounded
// half away from zero to the decimals asked for, after being taken to 15
// significant digits (so 0.1+0.2 is 0.3 and 2.675 rounds to 2.68).
// Pure code: no Windows here.
#pragma once

#include <string>

namespace nbrun {

bool ReadNumber(const std::string& text, double& value);

// A number without a fraction (a zero fraction is allowed, "3.00"), at most
// 999999999 either side of 0.
bool ReadWholeNumber(const std::string& text, int& value);

enum class Operator { Equal, NotEqual, Greater, Less, GreaterOrEqual, LessOrEqual };

// "=", "<>", ">", "<", ">=", "<=", blanks around allowed; false for others.
bool ReadOperator(const std::string& text, Operator& op);

bool Compare(const std::string& left, Operator op, const std::string& right);

// Why `expression` cannot be read, or empty text when it can. [name] stands
// for a number, so a script's expressions are checked before any variable
// has a value.
std::string CheckExpression(const std::string& expression);

// The value of an expression with no [name] left in it; false with the
// reason in `error` when it cannot be read, divides by zero or overflows.
bool Evaluate(const std::string& expression, double& value, std::string& error);

// The value with exactly `decimals` digits after the point (0 to 15), no
// point for 0 decimals, "-" only when a digit other than 0 is shown.
std::string FormatNumber(double value, int decimals);

}  // namespace nbrun

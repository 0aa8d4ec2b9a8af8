// The reader behind Math and conditions on any text. The check made at load
// and the evaluation at run time agree: an expression that evaluates passes
// the check, and one the check refuses fails to evaluate with the same
// words. A value that evaluates prints, with any number of decimals, a
// number that reads back (as a number and as an expression) to a value that
// prints the same, within half a unit of its last decimal. Conditions order
// any two texts one way: exactly one of <, = and > holds, and swapping the
// sides swaps < and >.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "host/runner/expression.h"

namespace {

void Check(bool holds) {
  if (!holds) std::abort();
}

void CheckPrinted(double value, int decimals) {
  const std::string printed = nbrun::FormatNumber(value, decimals);
  double read = 0, evaluated = 0;
  std::string error;
  Check(nbrun::ReadNumber(printed, read));
  Check(nbrun::Evaluate(printed, evaluated, error) && evaluated == read);
  Check(nbrun::FormatNumber(read, decimals) == printed);
  // 15 significant digits are kept before rounding to the decimals asked.
  const double unit = std::pow(10.0, -decimals);
  Check(std::fabs(read - value) <= 0.5 * unit + std::fabs(value) * 1e-14);
}

void CheckOrder(const std::string& left, const std::string& right) {
  using nbrun::Operator;
  const bool less = nbrun::Compare(left, Operator::Less, right);
  const bool equal = nbrun::Compare(left, Operator::Equal, right);
  const bool greater = nbrun::Compare(left, Operator::Greater, right);
  Check(less + equal + greater == 1);
  Check(nbrun::Compare(right, Operator::Greater, left) == less);
  Check(nbrun::Compare(right, Operator::Equal, left) == equal);
  Check(nbrun::Compare(left, Operator::NotEqual, right) == !equal);
  Check(nbrun::Compare(left, Operator::LessOrEqual, right) == (less || equal));
  Check(nbrun::Compare(left, Operator::GreaterOrEqual, right) == (greater || equal));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int decimals = data[0] % 16;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);

  double value = 0;
  std::string error;
  const bool evaluates = nbrun::Evaluate(text, value, error);
  const std::string checked = nbrun::CheckExpression(text);
  if (evaluates) {
    Check(checked.empty() && std::isfinite(value));
    CheckPrinted(value, decimals);
  } else if (!checked.empty() && text.find('[') == std::string::npos) {
    Check(error == checked);
  }

  const size_t cut = text.find('\n');
  CheckOrder(text.substr(0, cut), cut == std::string::npos ? std::string() : text.substr(cut + 1));
  return 0;
}

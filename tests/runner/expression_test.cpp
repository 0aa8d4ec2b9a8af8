// Numbers, conditions and Math as the runner's statements read them.
#include <gtest/gtest.h>

#include "host/runner/expression.h"

namespace {

using nbrun::Operator;

bool Holds(const std::string& left, const std::string& op, const std::string& right) {
  Operator read = Operator::Equal;
  EXPECT_TRUE(nbrun::ReadOperator(op, read)) << op;
  return nbrun::Compare(left, read, right);
}

std::string MathError(const std::string& expression) {
  double value = 0;
  std::string error;
  EXPECT_FALSE(nbrun::Evaluate(expression, value, error)) << expression << " = " << value;
  return error;
}

double MathValue(const std::string& expression) {
  double value = 0;
  std::string error;
  EXPECT_TRUE(nbrun::Evaluate(expression, value, error)) << expression << ": " << error;
  return value;
}

TEST(Numbers, OnlySignedDecimalsReadAsNumbers) {
  double value = 0;
  for (const char* number : {" 0", "-3.5", ".5", "+2", "12 ", "007"}) {
    EXPECT_TRUE(nbrun::ReadNumber(number, value)) << number;
  }
  EXPECT_TRUE(nbrun::ReadNumber(" -3.5 ", value));
  EXPECT_EQ(value, -3.5);
  for (const char* text : {"", " ", "-", ".", "1e3", "&H41", "1.2.3", "1 2", "+0012.34 kg"}) {
    EXPECT_FALSE(nbrun::ReadNumber(text, value)) << text;
  }
  int whole = 0;
  EXPECT_TRUE(nbrun::ReadWholeNumber("3.00", whole));
  EXPECT_EQ(whole, 3);
  EXPECT_FALSE(nbrun::ReadWholeNumber("2.5", whole));
  EXPECT_FALSE(nbrun::ReadWholeNumber("1000000000", whole));
}

TEST(Conditions, NumbersCompareAsNumbersTextsIgnoringCase) {
  EXPECT_TRUE(Holds(" 0", "=", "0.00"));  // the plug-in's " 0" is the number 0
  EXPECT_TRUE(Holds("10", ">", "9"));
  EXPECT_TRUE(Holds("10", "<", "9a"));  // one side is text: "1" sorts before "9"
  EXPECT_TRUE(Holds("-2", "<", "-1.5"));
  EXPECT_TRUE(Holds("OK", "=", "ok"));
  EXPECT_TRUE(Holds("abc", "<", "ABD"));
  EXPECT_TRUE(Holds("", "=", ""));
  EXPECT_TRUE(Holds("3", ">=", "3") && Holds("3", "<=", "3") && Holds("b", " >= ", "a"));
  EXPECT_FALSE(Holds("3", "<>", "3.0") || Holds("a", ">", "a") || Holds("", "=", "0"));
  Operator op;
  for (const char* wrong : {"==", "!=", "=<", "", "eq"}) {
    EXPECT_FALSE(nbrun::ReadOperator(wrong, op)) << wrong;
  }
}

TEST(MathExpressions, PrecedenceParenthesesAndSigns) {
  EXPECT_EQ(MathValue("2+3*4"), 14);
  EXPECT_EQ(MathValue(" ( 2 + 3 ) * 4 "), 20);
  EXPECT_EQ(MathValue("-(1-3)"), 2);
  EXPECT_EQ(MathValue(std::string(100001, '-') + "1"), -1);
  EXPECT_EQ(MathValue("10/4"), 2.5);
  EXPECT_EQ(MathValue("3--5"), 8);  // "3-[x]" with x = "-5"
  EXPECT_EQ(MathValue("12-3-4"), 5);
  EXPECT_EQ(MathValue("48/4/2"), 6);

  EXPECT_EQ(MathError("1/(2-2)"), "division by zero");
  // A text that cannot be read says so in the words of the check at load,
  // even where it also divides by zero.
  EXPECT_EQ(MathError("1/0 2"), "expected an operator at \"2\"");
  EXPECT_EQ(nbrun::CheckExpression("1/0 2"), "expected an operator at \"2\"");
  EXPECT_EQ(MathError("2+*3"), "expected a number at \"*3\"");
  EXPECT_EQ(MathError("(1+2"), "a \"(\" is never closed at the end");
  EXPECT_EQ(MathError("1+2)"), "a \")\" without its \"(\" at \")\"");
  EXPECT_EQ(MathError("2 3"), "expected an operator at \"3\"");
  EXPECT_EQ(MathError(""), "expected a number at the end");
  EXPECT_EQ(MathError("+0012.34 kg*2"), "expected an operator at \"kg*2\"");
  EXPECT_EQ(MathError(std::string(100, '(') + "1" + std::string(100, ')'))
                .rfind("parentheses nested too deep", 0),
            0u);
  EXPECT_EQ(MathError(std::string(300, '9') + "*" + std::string(300, '9')),
            "the result is too large");

  // Before variables have values, [name] stands for a number.
  EXPECT_EQ(nbrun::CheckExpression("[a]*([b]+1)/[c]"), "");
  EXPECT_EQ(nbrun::CheckExpression("[a]*"), "expected a number at the end");
  EXPECT_EQ(nbrun::CheckExpression("[a"), "a \"[\" is never closed at \"[a\"");
}

TEST(MathExpressions, RoundedHalfAwayFromZeroToTheDecimalsAsked) {
  EXPECT_EQ(nbrun::FormatNumber(2.675, 2), "2.68");  // 2.67499999... as a double
  EXPECT_EQ(nbrun::FormatNumber(MathValue("0.1+0.2"), 15), "0.300000000000000");
  EXPECT_EQ(nbrun::FormatNumber(2.5, 0), "3");
  EXPECT_EQ(nbrun::FormatNumber(-2.5, 0), "-3");
  EXPECT_EQ(nbrun::FormatNumber(-0.001, 2), "0.00");
  EXPECT_EQ(nbrun::FormatNumber(99.96, 1), "100.0");
  EXPECT_EQ(nbrun::FormatNumber(0.005, 2), "0.01");
  EXPECT_EQ(nbrun::FormatNumber(0.0004, 2), "0.00");
  EXPECT_EQ(nbrun::FormatNumber(0, 3), "0.000");
  EXPECT_EQ(nbrun::FormatNumber(1e20, 0), "100000000000000000000");
  EXPECT_EQ(nbrun::FormatNumber(-1234.5678, 3), "-1234.568");
}

}  // namespace

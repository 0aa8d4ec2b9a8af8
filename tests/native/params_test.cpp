// The parameter rules every handler follows: splitting, number reading,
// rounding and number text.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "plugin/byte_scan.h"
#include "plugin/params.h"

using wl::CountFields;
using wl::NumberText;
using wl::ReadNumber;
using wl::SplitFields;
using wl::ToInteger;
using Fields = std::vector<std::string>;

TEST(CommaRule, BlanksAroundUnquotedFieldsAreDropped) {
  EXPECT_EQ(SplitFields(" a , b ,c "), (Fields{"a", "b", "c"}));
  EXPECT_EQ(CountFields(" a , b ,c "), 3);
}

TEST(CommaRule, EmptyAndBlankTextsHaveOneEmptyField) {
  EXPECT_EQ(SplitFields(""), (Fields{""}));
  EXPECT_EQ(SplitFields("   "), (Fields{""}));
  EXPECT_EQ(CountFields(""), 1);
}

TEST(CommaRule, TrailingCommaGivesEmptyLastField) {
  EXPECT_EQ(SplitFields("1,"), (Fields{"1", ""}));
  EXPECT_EQ(SplitFields(",,"), (Fields{"", "", ""}));
}

TEST(CommaRule, QuotedFieldKeepsCommasAndBlanks) {
  EXPECT_EQ(SplitFields("1,\" hello, world \""), (Fields{"1", " hello, world "}));
  EXPECT_EQ(CountFields("1,hello, world"), 3);
}

TEST(CommaRule, CharactersAfterClosingQuoteUpToCommaAreLost) {
  EXPECT_EQ(SplitFields("\"ab\"cd ,e"), (Fields{"ab", "e"}));
  EXPECT_EQ(SplitFields("\"ab\"cd"), (Fields{"ab"}));
  EXPECT_EQ(SplitFields("\"ab\"x\"y,z\",w"), (Fields{"ab", "z\"", "w"}));
}

TEST(CommaRule, MissingClosingQuoteRunsToTheEnd) {
  EXPECT_EQ(SplitFields("1,\"abc, def"), (Fields{"1", "abc, def"}));
  EXPECT_EQ(SplitFields("\""), (Fields{""}));
}

TEST(CommaRule, QuoteInsideAFieldIsOrdinary) {
  EXPECT_EQ(SplitFields("a\"b,c"), (Fields{"a\"b", "c"}));
}

TEST(CommaRule, TabsAreOrdinaryCharacters) {
  EXPECT_EQ(SplitFields("1,\t5\t"), (Fields{"1", "\t5\t"}));
}

TEST(CommaRule, BlanksBeforeAQuoteAreSkipped) {
  EXPECT_EQ(SplitFields("  \" x \"  , y"), (Fields{" x ", "y"}));
}

TEST(CommaRule, EmptyQuotedField) {
  EXPECT_EQ(SplitFields("\"\",\"\""), (Fields{"", ""}));
}

TEST(CommaRule, NulAndHighBytesAreKept) {
  const std::string text("1,a\0\xff", 5);
  EXPECT_EQ(SplitFields(text), (Fields{"1", std::string("a\0\xff", 3)}));
}

TEST(CommaRule, MillionCommas) {
  const std::string text(1000000, ',');
  EXPECT_EQ(CountFields(text), 1000001);
}

TEST(DelimiterRule, FieldsAreTakenExactly) {
  EXPECT_EQ(SplitFields("1| a, \"b\" |", "|"), (Fields{"1", " a, \"b\" ", ""}));
  EXPECT_EQ(CountFields("1|a,b|c", "|"), 3);
  EXPECT_EQ(SplitFields("", "|"), (Fields{""}));
}

TEST(DelimiterRule, OccurrencesDoNotOverlap) {
  EXPECT_EQ(SplitFields("a|||b", "||"), (Fields{"a", "|b"}));
  EXPECT_EQ(CountFields("||||", "||"), 3);
}

TEST(ReadNumber, Decimal) {
  EXPECT_EQ(ReadNumber("  42abc"), 42);
  EXPECT_EQ(ReadNumber("\t\n 7"), 7);
  EXPECT_EQ(ReadNumber("abc"), 0);
  EXPECT_EQ(ReadNumber(""), 0);
  EXPECT_EQ(ReadNumber("-12.5"), -12.5L);
  EXPECT_EQ(ReadNumber("+3"), 3);
  EXPECT_EQ(ReadNumber(".5"), 0.5L);
  EXPECT_EQ(ReadNumber("5."), 5);
  EXPECT_EQ(ReadNumber("1.2.3"), 1.2L);
  EXPECT_EQ(ReadNumber("-"), 0);
  EXPECT_EQ(ReadNumber("."), 0);
  EXPECT_EQ(ReadNumber("- 5"), 0);
}

TEST(ReadNumber, WholeNumbersReadAsStrtoldReadsThem) {
  // Whole numbers take a quicker path than fractions and exponents; both
  // must give the same value, on either side of 18 digits and with signs.
  const char* texts[] = {"0", "-0", "+0", "007", "-42", "2147483647", "-2147483648",
                         "4294967297", "999999999999999999", "-999999999999999999",
                         "1000000000000000000", "9223372036854775807", "9223372036854775808",
                         "-9223372036854775809", "123456789012345678901234567890"};
  for (const char* text : texts) {
    const long double expected = std::strtold(text, nullptr);
    EXPECT_EQ(ReadNumber(text), expected) << text;
    EXPECT_EQ(std::signbit(ReadNumber(text)), std::signbit(expected)) << text;
  }
}

TEST(ReadNumber, Exponents) {
  EXPECT_EQ(ReadNumber("1.5E3"), 1500);
  EXPECT_EQ(ReadNumber("1.5e+3"), 1500);
  EXPECT_EQ(ReadNumber("25D-1"), 2.5L);
  EXPECT_EQ(ReadNumber("2d2"), 200);
  EXPECT_EQ(ReadNumber("7E"), 7);    // no exponent digits: the E ends the number
  EXPECT_EQ(ReadNumber("7E+"), 7);
  EXPECT_EQ(ReadNumber("7Ex"), 7);
}

TEST(ReadNumber, WhatStrtoldWouldTakeIsNotANumberHere) {
  EXPECT_EQ(ReadNumber("0x10"), 0);
  EXPECT_EQ(ReadNumber("inf"), 0);
  EXPECT_EQ(ReadNumber("nan"), 0);
}

TEST(ReadNumber, HugeExponentsStayFinite_OrSaturateInToInteger) {
  EXPECT_EQ(ToInteger(ReadNumber("1E99999")), INT64_MAX);
  EXPECT_EQ(ToInteger(ReadNumber("-1E99999")), INT64_MIN);
  EXPECT_EQ(ReadNumber("1E-99999"), 0);
  EXPECT_EQ(ToInteger(ReadNumber(std::string(5000, '9'))), INT64_MAX);
}

TEST(ReadNumber, AmpersandBases) {
  EXPECT_EQ(ReadNumber("&H1F"), 31);
  EXPECT_EQ(ReadNumber("&h1f"), 31);
  EXPECT_EQ(ReadNumber("&O17"), 15);
  EXPECT_EQ(ReadNumber("&o17"), 15);
  EXPECT_EQ(ReadNumber("&Q17"), 15);
  EXPECT_EQ(ReadNumber("&17"), 15);
  EXPECT_EQ(ReadNumber("&B101"), 5);
  EXPECT_EQ(ReadNumber(" &H41"), 65);
  EXPECT_EQ(ReadNumber("&H1Fzz"), 31);
  EXPECT_EQ(ReadNumber("&18"), 1);  // 8 is not an octal digit
}

TEST(ReadNumber, AmpersandWithoutDigitsIsZero) {
  EXPECT_EQ(ReadNumber("&"), 0);
  EXPECT_EQ(ReadNumber("&H"), 0);
  EXPECT_EQ(ReadNumber("&HG"), 0);
  EXPECT_EQ(ReadNumber("&9"), 0);
  EXPECT_EQ(ReadNumber("&B2"), 0);
}

TEST(ReadNumber, SixteenBitSignRule) {
  EXPECT_EQ(ReadNumber("&HFFFF"), -1);
  EXPECT_EQ(ReadNumber("&H8000"), -32768);
  EXPECT_EQ(ReadNumber("&H7FFF"), 32767);
  EXPECT_EQ(ReadNumber("&HFFFF&"), 65535);
  EXPECT_EQ(ReadNumber("&H0FFFF"), 65535);  // a leading 0 keeps it positive
  EXPECT_EQ(ReadNumber("&177777"), -1);     // octal FFFF
  EXPECT_EQ(ReadNumber("&B1000000000000000"), -32768);
}

TEST(ReadNumber, ThirtyTwoBitSignRule) {
  EXPECT_EQ(ReadNumber("&HFFFFFFFF"), -1);
  EXPECT_EQ(ReadNumber("&H80000000"), -2147483648.0L);
  EXPECT_EQ(ReadNumber("&H7FFFFFFF"), 2147483647);
  EXPECT_EQ(ReadNumber("&H10000"), 65536);
  EXPECT_EQ(ReadNumber("&HFFFFFFFF&"), -1);  // one "&" only guards 16-bit values
  EXPECT_EQ(ReadNumber("&HFFFFFFFF&&"), 4294967295.0L);
  EXPECT_EQ(ReadNumber("&H0FFFFFFFF"), 4294967295.0L);
}

TEST(ReadNumber, SixtyFourBitValues) {
  EXPECT_EQ(ReadNumber("&H100000000"), 4294967296.0L);
  EXPECT_EQ(ReadNumber("&HFFFFFFFFFFFFFFFF"), -1);
  EXPECT_EQ(ReadNumber("&H8000000000000000"), -9223372036854775808.0L);
  EXPECT_EQ(ReadNumber("&H7FFFFFFFFFFFFFFF"), 9223372036854775807.0L);
  EXPECT_EQ(ReadNumber("&H10000000000000000"), 0);  // needs 65 bits
  EXPECT_EQ(ReadNumber("&H00000000000000000001"), 1);  // leading zeros do not count
}

TEST(ReadNumber, QuestionMarkAndPercentSuffixes) {
  EXPECT_EQ(ReadNumber("&HFFFF?"), 65535);
  EXPECT_EQ(ReadNumber("&HFFFFFFFF?"), 4294967295.0L);
  EXPECT_EQ(ReadNumber("&HFFFFFFFFFFFFFFFF?"), 0);
  EXPECT_EQ(ReadNumber("&H7FFFFFFFFFFFFFFF?"), 9223372036854775807.0L);
  EXPECT_EQ(ReadNumber("&HFFFF%"), -1);
  EXPECT_EQ(ReadNumber("&HFFFFFFFF%"), -1);
}

TEST(ToInteger, TiesGoToEven) {
  EXPECT_EQ(ToInteger(2.5L), 2);
  EXPECT_EQ(ToInteger(3.5L), 4);
  EXPECT_EQ(ToInteger(-2.5L), -2);
  EXPECT_EQ(ToInteger(-3.5L), -4);
  EXPECT_EQ(ToInteger(1.5L), 2);
  EXPECT_EQ(ToInteger(0.5L), 0);
  EXPECT_EQ(ToInteger(-0.5L), 0);
  EXPECT_EQ(ToInteger(65.5L), 66);
  EXPECT_EQ(ToInteger(66.5L), 66);
}

TEST(ToInteger, RoundsToNearest) {
  EXPECT_EQ(ToInteger(2.4999L), 2);
  EXPECT_EQ(ToInteger(2.5001L), 3);
  EXPECT_EQ(ToInteger(-2.6L), -3);
  EXPECT_EQ(ToInteger(0.0L), 0);
}

TEST(ToInteger, SixtyFourBitRangeAndBeyond) {
  EXPECT_EQ(ToInteger(9007199254740993.0L), 9007199254740993LL);
  EXPECT_EQ(ToInteger(-9223372036854775808.0L), INT64_MIN);
  EXPECT_EQ(ToInteger(1e30L), INT64_MAX);
  EXPECT_EQ(ToInteger(-1e30L), INT64_MIN);
  EXPECT_EQ(ToInteger(std::numeric_limits<long double>::infinity()), INT64_MAX);
  EXPECT_EQ(ToInteger(std::numeric_limits<long double>::quiet_NaN()), 0);
}

TEST(FieldInteger, KeepsTheLowThirtyTwoBits) {
  EXPECT_EQ(wl::FieldInteger("4294967297"), 1);
  EXPECT_EQ(wl::FieldInteger("-1"), -1);
  EXPECT_EQ(wl::FieldInteger("2.5"), 2);
  EXPECT_EQ(wl::FieldInteger("&HFFFF"), -1);
}

TEST(NumberText, LeadingSignPosition) {
  EXPECT_EQ(NumberText(0), " 0");
  EXPECT_EQ(NumberText(57), " 57");
  EXPECT_EQ(NumberText(-1), "-1");
  EXPECT_EQ(NumberText(19200), " 19200");
  EXPECT_EQ(NumberText(INT64_MAX), " 9223372036854775807");
  EXPECT_EQ(NumberText(INT64_MIN), "-9223372036854775808");
  // Either side of the 32-bit magnitudes, whose digits are written apart.
  EXPECT_EQ(NumberText(4294967295LL), " 4294967295");
  EXPECT_EQ(NumberText(4294967296LL), " 4294967296");
  EXPECT_EQ(NumberText(-4294967296LL), "-4294967296");
  EXPECT_EQ(NumberText(10000000000LL), " 10000000000");
  const wl::NumberChars inPlace(-305);
  EXPECT_STREQ(inPlace.c_str(), "-305");
  EXPECT_EQ(inPlace.size(), 4u);
}

// The whole-number reading gives what rounding the general reading gives,
// for the plain fields it reads without floating point and for every other
// kind it hands on.
TEST(ReadInteger, AgreesWithTheRoundedNumber) {
  for (const char* field :
       {"0", "-0", "+0", "7", " 7", "\t\n-7", "+12", "007", "123456789012345678",
        "1234567890123456789", "-999999999999999999", "12abc", "12 ", "12,", "1.5", "2.5",
        "-2.5", "1e3", "1E", "1d2", "12.", ".5", "-", "+", "", "abc", "&H10", "&HFFFF", "1E99999",
        "-1E99999", "99999999999999999999", " - 5"}) {
    EXPECT_EQ(wl::ReadInteger(field), ToInteger(ReadNumber(field))) << '"' << field << '"';
  }
  EXPECT_EQ(wl::ReadInteger("123456789012345678"), 123456789012345678LL);
  EXPECT_EQ(wl::ReadInteger("-42x"), -42);
  EXPECT_TRUE(std::signbit(ReadNumber("-0")));
}

// The many-bytes-at-a-time searches find what a byte-by-byte look finds, at
// every place in a block and at every alignment, and read nothing past
// their bound; a text's length stops at its first NUL or at the limit.
TEST(ByteScan, FindsWhatAByteByByteLookFinds) {
  alignas(16) char area[96];
  for (size_t offset = 0; offset < 16; ++offset) {
    for (size_t n = 0; n + offset <= 64; ++n) {
      for (size_t hit = 0; hit <= n; ++hit) {
        std::memset(area, 'x', sizeof area);
        char* from = area + offset;
        if (hit < n) from[hit] = (hit % 2) ? '\r' : '\n';
        from[n] = ',';  // just past the bound: never found
        const char* expected = hit < n ? from + hit : nullptr;
        ASSERT_EQ(wl::FindCrOrLf(from, n), expected) << offset << " " << n << " " << hit;
        if (hit < n) from[hit] = ',';
        ASSERT_EQ(wl::FindByte(from, n, ','), expected) << offset << " " << n << " " << hit;
        from[n] = '\0';
        if (hit < n) from[hit] = '\0';
        ASSERT_EQ(wl::TextLength(from, 80), hit) << offset << " " << n << " " << hit;
        ASSERT_EQ(wl::TextLength(from, hit / 2), hit / 2);
      }
    }
  }
  const char high[] = "ab\x8c" "d";  // a byte above 127 (a negative char)
  EXPECT_EQ(wl::FindByte(high, 4, '\x8c'), high + 2);
}

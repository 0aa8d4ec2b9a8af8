// Wirecodes' actions as the parameter texts a script writes: each result,
// and each mistake with its number and no value.
#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "editions/wirecodes/codes_actions.h"
#include "editions/wirecodes/codes_errors.h"

namespace {

using namespace wl::wirecodes;

// "value" on success, "#n" for mistake n; the variable's name must be "v".
template <class Action>
std::string Result(Action action, const std::string& parameters) {
  const Outcome o = action(parameters);
  EXPECT_EQ(o.variable, "v") << parameters;
  if (o.error != kDone) {
    EXPECT_EQ(o.value, "") << parameters;
    return "#" + std::to_string(o.error);
  }
  return o.value;
}

std::string Err(int number) { return "#" + std::to_string(number); }

TEST(CodesActionChecksums, CodesAndTextsInEveryKind) {
  EXPECT_EQ(Result(Checksum, "v,CRC16,&H31,&H32,&H33,&H34,&H35,&H36,&H37,&H38,&H39"), "&H37,&H4B");
  EXPECT_EQ(Result(Checksum, "v,crc16,&H11,3,0,&H6B,0,3"), "&H76,&H87");
  EXPECT_EQ(Result(Checksum, "v,XMODEM,49,50,51,52,53,54,55,56,57"), "&H31,&HC3");
  EXPECT_EQ(Result(Checksum, "v,CCITT,49,50,51,52,53,54,55,56,57"), "&H29,&HB1");
  EXPECT_EQ(Result(Checksum, "v,LRC,&H11,3,0,&H6B,0,3"), "&H7E");
  EXPECT_EQ(Result(Checksum, "v,SUM8,&HFF,2"), "&H01");
  EXPECT_EQ(Result(Checksum, "v,XOR8,&B1010,&O17"), "&H05");
  EXPECT_EQ(Result(Checksum, "v,CRC16"), "&HFF,&HFF");  // of nothing
  EXPECT_EQ(Result(ChecksumText, "v,CRC16|123456789"), "&H37,&H4B");
  EXPECT_EQ(Result(ChecksumText, "v,NMEA|$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*"), "47");
  EXPECT_EQ(Result(ChecksumText, "v,NMEA|GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"), "47");
  EXPECT_EQ(Result(ChecksumText, "v,LRC|:1103006B0003"), "7E");
  EXPECT_EQ(Result(ChecksumText, "v,LRC|11 03 00 6B 00 03"), "7E");
  EXPECT_EQ(Result(ChecksumText, "v,LRC|:1103006B000"), Err(kNotHex));
  EXPECT_EQ(Result(ChecksumText, "v,SUM8|a|b,\"c\""), "&H12");  // the text after the first "|", whole
  EXPECT_EQ(Result(Checksum, "v,CRC32,1"), Err(kUnknownKind));
  EXPECT_EQ(Result(Checksum, "v,CRC16,1,256"), Err(kBadCode));
  EXPECT_EQ(Result(Checksum, "v,CRC16,1,-1"), Err(kBadCode));
  EXPECT_EQ(Result(Checksum, "v,CRC16,1,"), Err(kBadCode));  // an empty field is no 0
  EXPECT_EQ(Result(Checksum, "v,CRC16,&HFFFF"), Err(kBadCode));
  EXPECT_EQ(Result(Checksum, "v,CRC16,4294967297"), Err(kBadCode));  // not cut to 32 bits
  EXPECT_EQ(Result(ChecksumText, "v,CRC16"), Err(kFieldCount));
  EXPECT_EQ(Result(ChecksumText, "v|123"), Err(kFieldCount));
}

TEST(CodesActionChecks, FramesAndSentences) {
  EXPECT_EQ(Result(Check, "v,CRC16,&H01,&H03,&H04,&H00,&HE7,&H01,&HF4,&H4A,&H13"), "1");
  EXPECT_EQ(Result(Check, "v,CRC16,&H01,&H03,&H04,&H00,&HE7,&H01,&HF4,&H4A,&H12"), "0");
  EXPECT_EQ(Result(Check, "v,CRC16,&H13"), "0");
  EXPECT_EQ(Result(Check, "v,LRC,&H11,3,0,&H6B,0,3,&H7E"), "1");
  EXPECT_EQ(Result(CheckText, "v,NMEA|$GPRMC,123519.00,V,,,,,,,230394,,*1D"), "1");
  EXPECT_EQ(Result(CheckText, "v,NMEA|$GPRMC,123519.00,V,,,,,,,230394,,*1E"), "0");
  EXPECT_EQ(Result(CheckText, "v,NMEA|46.9,M,,*65"), "0");
  EXPECT_EQ(Result(CheckText, "v,LRC|:1103006B00037E\r\n"), "1");
  EXPECT_EQ(Result(CheckText, "v,LRC|:1103006B00037F"), "0");
  EXPECT_EQ(Result(CheckText, "v,XOR8|ab" + std::string(1, 'a' ^ 'b')), "1");
  EXPECT_EQ(Result(Check, "v,NOPE,1"), Err(kUnknownKind));
}

TEST(CodesActionTexts, CodesTextsAndHexDigits) {
  EXPECT_EQ(Result(TextToCodes, "v|A, \"b\"|"), "&H41,&H2C,&H20,&H22,&H62,&H22,&H7C");
  EXPECT_EQ(Result(TextToCodes, "v|"), "");
  EXPECT_EQ(Result(TextToCodes, "v|\xFF"), "&HFF");
  EXPECT_EQ(Result(CodesToText, "v,72,&H69,&O41"), "Hi!");
  EXPECT_EQ(Result(CodesToText, "v,72,0,105"), Err(kZeroInText));
  EXPECT_EQ(Result(CodesToText, "v"), "");
  EXPECT_EQ(Result(HexToCodes, "v,0103 00 0a"), "&H01,&H03,&H00,&H0A");
  EXPECT_EQ(Result(HexToCodes, "v,010"), Err(kNotHex));
  EXPECT_EQ(Result(HexToCodes, "v,01,03"), Err(kFieldCount));
  EXPECT_EQ(Result(HexToCodes, "v,0x01"), Err(kNotHex));
  EXPECT_EQ(Result(CodesToHex, "v,1,&HAB,255"), "01ABFF");
  EXPECT_EQ(Result(Code, "v|A"), "65");
  EXPECT_EQ(Result(Code, "v||"), "124");
  EXPECT_EQ(Result(Code, "v|,"), "44");
  EXPECT_EQ(Result(Code, "v|\xE9"), "233");
  EXPECT_EQ(Result(Code, "v|"), "0");  // what wlCommRxByte leaves for a 0 byte
  EXPECT_EQ(Result(Code, "v|AB"), Err(kNotOneCharacter));
  EXPECT_EQ(Result(Code, "v"), Err(kFieldCount));
}

TEST(CodesActionNumbers, LayoutsBothWays) {
  // A Modbus request: slave 1, read holding registers, register 0, two.
  EXPECT_EQ(Result(NumbersToCodes, "v,U8 U8 U16 U16 CRC16,1,3,0,2"), "&H01,&H03,&H00,&H00,&H00,&H02,&HC4,&H0B");
  EXPECT_EQ(Result(NumbersToCodes, "v,U16,&HFFFF,65535,&H8000"), "&HFF,&HFF,&HFF,&HFF,&H80,&H00");
  EXPECT_EQ(Result(NumbersToCodes, "v,S16,&HFFFF,-32768,2.5"), "&HFF,&HFF,&H80,&H00,&H00,&H02");
  EXPECT_EQ(Result(NumbersToCodes, "v,U32CDAB,&HFFFFFFFF,&H12345678"), "&HFF,&HFF,&HFF,&HFF,&H56,&H78,&H12,&H34");
  EXPECT_EQ(Result(NumbersToCodes, "v,S32DCBA,-2"), "&HFE,&HFF,&HFF,&HFF");
  EXPECT_EQ(Result(NumbersToCodes, "v,F32,1,-2.5"), "&H3F,&H80,&H00,&H00,&HC0,&H20,&H00,&H00");
  EXPECT_EQ(Result(NumbersToCodes, "v,U8 SUM8,1,2,3"), "&H01,&H02,&H03,&H06");
  EXPECT_EQ(Result(NumbersToCodes, "v,U16,65536"), Err(kOutOfRange));
  EXPECT_EQ(Result(NumbersToCodes, "v,U16,-1"), Err(kOutOfRange));
  EXPECT_EQ(Result(NumbersToCodes, "v,S16,32768"), Err(kOutOfRange));
  EXPECT_EQ(Result(NumbersToCodes, "v,U32,&H1FFFFFFFF"), Err(kOutOfRange));
  EXPECT_EQ(Result(NumbersToCodes, "v,U32,&HFFFFFFFFFFFFFFFF"), Err(kOutOfRange));
  EXPECT_EQ(Result(NumbersToCodes, "v,F32,1E39"), Err(kOutOfRange));
  EXPECT_EQ(Result(NumbersToCodes, "v,U8,x"), Err(kNotANumber));
  EXPECT_EQ(Result(NumbersToCodes, "v,U8,"), Err(kNotANumber));
  EXPECT_EQ(Result(NumbersToCodes, "v,U8 U8 U16,1,2"), Err(kDoesNotFit));
  EXPECT_EQ(Result(NumbersToCodes, "v,U12,1"), Err(kUnknownKind));
  EXPECT_EQ(Result(NumbersToCodes, "v,U8"), Err(kDoesNotFit));
  // The reply to it: slave, function, byte count, two registers, CRC.
  const std::string reply = "&H01,&H03,&H04,&H00,&HE7,&H01,&HF4,&H4A,&H13";
  EXPECT_EQ(Result(CodesToNumbers, "v,U8 U8 U8 U16 CRC16,0," + reply), "1,3,4,231,500");
  EXPECT_EQ(Result(CodesToNumbers, "v,U8 U8 U8 U16 CRC16,0,&H01,&H03,&H04,&H00,&HE7,&H01,&HF4,&H4A,&H12"),
            Err(kWrongChecksum));
  EXPECT_EQ(Result(CodesToNumbers, "v,U16,0,&HFF,&HFF,&H80,&H00"), "65535,32768");
  EXPECT_EQ(Result(CodesToNumbers, "v,S16BA,0,&HFE,&HFF"), "-2");
  EXPECT_EQ(Result(CodesToNumbers, "v,S32CDAB,0,&HFF,&HFE,&HFF,&HFF"), "-2");
  EXPECT_EQ(Result(CodesToNumbers, "v,U32,0,&HFF,&HFF,&HFF,&HFF"), "4294967295");
  EXPECT_EQ(Result(CodesToNumbers, "v,F32,2,&H3F,&H80,&H00,&H00,&HC0,&H20,&H00,&H00"), "1.00,-2.50");
  EXPECT_EQ(Result(CodesToNumbers, "v,F32CDAB,3,&HE9,&H79,&H42,&HF6"), "123.456");
  EXPECT_EQ(Result(CodesToNumbers, "v,F32,1,&H80,0,0,0"), "0.0");  // no "-0.0"
  EXPECT_EQ(Result(CodesToNumbers, "v,F32,0,&H7F,&HC0,0,0"), Err(kNotFinite));
  EXPECT_EQ(Result(CodesToNumbers, "v,U16,0,1,2,3"), Err(kDoesNotFit));
  EXPECT_EQ(Result(CodesToNumbers, "v,U16,16,1,2"), Err(kOutOfRange));
  EXPECT_EQ(Result(CodesToNumbers, "v,U16,-1,1,2"), Err(kOutOfRange));
  EXPECT_EQ(Result(CodesToNumbers, "v,U16,x,1,2"), Err(kNotANumber));
  EXPECT_EQ(Result(CodesToNumbers, "v,U16"), Err(kFieldCount));
}

// A host may have set a locale whose decimal point is a comma; the numbers
// written keep ".".
TEST(CodesActionNumbers, FloatsKeepTheirPointInAnyLocale) {
  const std::string before = std::setlocale(LC_NUMERIC, nullptr);
  if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr && std::setlocale(LC_NUMERIC, "German") == nullptr) {
    GTEST_SKIP() << "no German locale here";
  }
  if (std::localeconv()->decimal_point[0] != ',') {
    std::setlocale(LC_NUMERIC, before.c_str());
    GTEST_SKIP() << "the German locale here writes no decimal comma";
  }
  EXPECT_EQ(Result(CodesToNumbers, "v,F32,2,&HC0,&H20,&H00,&H00"), "-2.50");
  EXPECT_EQ(Result(NumbersToCodes, "v,F32,-2.5"), "&HC0,&H20,&H00,&H00");
  std::setlocale(LC_NUMERIC, before.c_str());
}

TEST(CodesActionBits, WholeNumbersUpTo32Bits) {
  EXPECT_EQ(Result(Bits, "v,AND,&HFFFF,&H0F0F"), "3855");
  EXPECT_EQ(Result(Bits, "v,or,&H8000,1"), "32769");
  EXPECT_EQ(Result(Bits, "v,XOR,&HFFFFFFFF,1"), "4294967294");
  EXPECT_EQ(Result(Bits, "v,AND,-1,&HFFFF"), "65535");  // -1 is 32 ones
  EXPECT_EQ(Result(Bits, "v,NOT,&H00FF,16"), "65280");
  EXPECT_EQ(Result(Bits, "v,NOT,0,32"), "4294967295");
  EXPECT_EQ(Result(Bits, "v,NOT,256,8"), Err(kOutOfRange));
  EXPECT_EQ(Result(Bits, "v,NOT,1,0"), Err(kOutOfRange));
  EXPECT_EQ(Result(Bits, "v,SHL,1,31"), "2147483648");
  EXPECT_EQ(Result(Bits, "v,SHL,&HFFFFFFFF,4"), "4294967280");  // bits shifted out are gone
  EXPECT_EQ(Result(Bits, "v,SHR,&H80000000,31"), "1");
  EXPECT_EQ(Result(Bits, "v,SHR,1,32"), Err(kOutOfRange));
  EXPECT_EQ(Result(Bits, "v,BIT,&H8000,15"), "1");
  EXPECT_EQ(Result(Bits, "v,BIT,&H8000,14"), "0");
  EXPECT_EQ(Result(Bits, "v,BIT,5,-1"), Err(kOutOfRange));
  EXPECT_EQ(Result(Bits, "v,AND,4294967296,1"), Err(kOutOfRange));
  EXPECT_EQ(Result(Bits, "v,AND,-2147483649,1"), Err(kOutOfRange));
  EXPECT_EQ(Result(Bits, "v,NAND,1,1"), Err(kUnknownKind));
  EXPECT_EQ(Result(Bits, "v,AND,1"), Err(kFieldCount));
  EXPECT_EQ(Result(Bits, "v,AND,one,1"), Err(kNotANumber));
}

TEST(CodesActionFields, TheVariableAndTheFieldCount) {
  const Outcome noName = Checksum(",CRC16,1");
  EXPECT_EQ(noName.error, kNoVariable);
  EXPECT_EQ(noName.variable, "");
  const Outcome tooMany = Bits("reg,AND,1,2,3");
  EXPECT_EQ(tooMany.error, kFieldCount);
  EXPECT_EQ(tooMany.variable, "reg");  // set empty, so no old value passes for a result
  EXPECT_EQ(Code("").error, kFieldCount);
  EXPECT_EQ(Result(Checksum, "  v  ,CRC16,1"), "&H7E,&H80");
}

}  // namespace

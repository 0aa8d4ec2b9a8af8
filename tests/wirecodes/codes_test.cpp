// The codes library: the checksums against their published check values
// and the frames the Modbus standard gives as examples, and every number format
// round trip at its limits, in each byte order.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "codes/checksums.h"
#include "codes/formats.h"

namespace {

using namespace wlcodes;

std::string Bytes(std::initializer_list<int> codes) {
  std::string bytes;
  for (int c : codes) bytes += static_cast<char>(c);
  return bytes;
}

TEST(CodesChecksums, PublishedCheckValuesAndTheOrderFramesCarryThem) {
  const std::string check = "123456789";
  EXPECT_EQ(Crc16Modbus(check), 0x4B37);
  EXPECT_EQ(Crc16Ccitt(check), 0x29B1);   // CRC-16/CCITT-FALSE
  EXPECT_EQ(Crc16Xmodem(check), 0x31C3);
  EXPECT_EQ(Sum8(check), 0xDD);
  EXPECT_EQ(Xor8(check), 0x31);
  EXPECT_EQ(Lrc(check), 0x23);  // 0x100 - 0xDD
  EXPECT_EQ(ChecksumBytes(Checksum::Crc16Modbus, check), Bytes({0x37, 0x4B}));
  EXPECT_EQ(ChecksumBytes(Checksum::Crc16Xmodem, check), Bytes({0x31, 0xC3}));
  EXPECT_EQ(ChecksumBytes(Checksum::Crc16Ccitt, check), Bytes({0x29, 0xB1}));
  EXPECT_EQ(Crc16Modbus(""), 0xFFFF);
  EXPECT_EQ(Crc16Xmodem(""), 0);
  Checksum kind;
  EXPECT_TRUE(ChecksumNamed(" crc16 ", kind));
  EXPECT_EQ(kind, Checksum::Crc16Modbus);
  EXPECT_TRUE(ChecksumNamed("Xmodem", kind));
  EXPECT_EQ(kind, Checksum::Crc16Xmodem);
  EXPECT_FALSE(ChecksumNamed("CRC32", kind));
  EXPECT_FALSE(ChecksumNamed("", kind));
}

// The Modbus serial-line standard's examples: Read Exception
// Status of slave 2 ("02 07", CRC 41 12) and Read Holding Registers of
// slave 17 in RTU (CRC 76 87) and in ASCII (LRC 7E).
TEST(CodesChecksums, TheModbusStandardsExampleFrames) {
  EXPECT_EQ(ChecksumBytes(Checksum::Crc16Modbus, Bytes({0x02, 0x07})), Bytes({0x41, 0x12}));
  const std::string request = Bytes({0x11, 0x03, 0x00, 0x6B, 0x00, 0x03});
  EXPECT_EQ(ChecksumBytes(Checksum::Crc16Modbus, request), Bytes({0x76, 0x87}));
  EXPECT_TRUE(FrameChecks(Checksum::Crc16Modbus, request + Bytes({0x76, 0x87})));
  EXPECT_FALSE(FrameChecks(Checksum::Crc16Modbus, request + Bytes({0x87, 0x76})));  // high byte first
  for (size_t bit = 0; bit < 8 * 8; ++bit) {
    std::string frame = request + Bytes({0x76, 0x87});
    frame[bit / 8] = static_cast<char>(frame[bit / 8] ^ (1 << (bit % 8)));
    EXPECT_FALSE(FrameChecks(Checksum::Crc16Modbus, frame)) << bit;
  }
  EXPECT_EQ(Lrc(request), 0x7E);
  std::string bytes;
  ASSERT_TRUE(AsciiFrameBytes(":1103006B00037E\r\n", bytes));
  EXPECT_EQ(bytes, request + Bytes({0x7E}));
  EXPECT_TRUE(FrameChecks(Checksum::Lrc, bytes));
  EXPECT_TRUE(AsciiFrameBytes(":1103006b00037e", bytes));
  EXPECT_FALSE(AsciiFrameBytes("1103006B00037E", bytes));   // no colon
  EXPECT_FALSE(AsciiFrameBytes(":1103006B00037", bytes));   // half a pair
  EXPECT_FALSE(AsciiFrameBytes(":1103006B0003G7", bytes));
  EXPECT_FALSE(FrameChecks(Checksum::Crc16Modbus, Bytes({0x12})));  // too short to hold one
  EXPECT_FALSE(FrameChecks(Checksum::Sum8, ""));
}

TEST(CodesChecksums, NmeaSentencesAsReceived) {
  const std::string gga = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47";
  EXPECT_EQ(NmeaChecksum(gga), 0x47);
  EXPECT_TRUE(SentenceChecks(gga));
  EXPECT_TRUE(SentenceChecks(gga + "\r\n"));
  EXPECT_TRUE(SentenceChecks("$GPRMC,123519.00,V,,,,,,,230394,,*1d"));  // either case
  EXPECT_TRUE(SentenceChecks("!AIVDM,1,1,,B,15M67FC000G?ufbE`FepT@3n00Sa,0*5C"));
  EXPECT_FALSE(SentenceChecks("$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*46"));
  EXPECT_FALSE(SentenceChecks("46.9,M,,*65"));   // the end of a sentence: no "$"
  EXPECT_FALSE(SentenceChecks("$GPGGA,123519"));  // no checksum
  EXPECT_FALSE(SentenceChecks("$GPGGA,1*2*47"));
  EXPECT_FALSE(SentenceChecks("$*4"));
  EXPECT_FALSE(SentenceChecks(""));
  EXPECT_EQ(NmeaChecksum("GPGGA,1"), NmeaChecksum("$GPGGA,1*00"));
}

// Every whole-number format holds exactly its range, and each value at
// its limits reads back as itself in every byte order.
TEST(CodesFormats, WholeNumbersRoundTripAtTheirLimitsInEveryOrder) {
  struct Case {
    const char* format;
    int64_t lowest, highest;
  };
  const Case cases[] = {
      {"U8", 0, 255},       {"S8", -128, 127},
      {"U16AB", 0, 65535},  {"U16BA", 0, 65535},     {"S16AB", -32768, 32767}, {"S16BA", -32768, 32767},
      {"U32ABCD", 0, 4294967295LL}, {"U32DCBA", 0, 4294967295LL}, {"U32BADC", 0, 4294967295LL},
      {"U32CDAB", 0, 4294967295LL}, {"S32ABCD", INT32_MIN, INT32_MAX}, {"S32DCBA", INT32_MIN, INT32_MAX},
      {"S32BADC", INT32_MIN, INT32_MAX}, {"S32CDAB", INT32_MIN, INT32_MAX},
  };
  for (const Case& c : cases) {
    Format f;
    ASSERT_TRUE(ParseFormat(c.format, f)) << c.format;
    EXPECT_FALSE(FitsWhole(f, c.lowest - 1)) << c.format;
    EXPECT_FALSE(FitsWhole(f, c.highest + 1)) << c.format;
    for (int64_t v : {c.lowest, c.lowest + 1, int64_t{0}, int64_t{1}, c.highest - 1, c.highest}) {
      ASSERT_TRUE(FitsWhole(f, v)) << c.format << " " << v;
      const std::string bytes = EncodeWhole(f, v);
      ASSERT_EQ(bytes.size(), static_cast<size_t>(f.size));
      EXPECT_EQ(DecodeWhole(f, "x" + bytes, 1), v) << c.format;
    }
  }
  Format f;
  ASSERT_TRUE(ParseFormat("u32", f));  // high byte first by default
  EXPECT_EQ(EncodeWhole(f, 0x01020304), Bytes({1, 2, 3, 4}));
  ASSERT_TRUE(ParseFormat("U32DCBA", f));
  EXPECT_EQ(EncodeWhole(f, 0x01020304), Bytes({4, 3, 2, 1}));
  ASSERT_TRUE(ParseFormat("U32BADC", f));
  EXPECT_EQ(EncodeWhole(f, 0x01020304), Bytes({2, 1, 4, 3}));
  ASSERT_TRUE(ParseFormat("U32CDAB", f));
  EXPECT_EQ(EncodeWhole(f, 0x01020304), Bytes({3, 4, 1, 2}));
  ASSERT_TRUE(ParseFormat("S16", f));
  EXPECT_EQ(EncodeWhole(f, -2), Bytes({0xFF, 0xFE}));
  ASSERT_TRUE(ParseFormat("S16BA", f));
  EXPECT_EQ(DecodeWhole(f, Bytes({0x00, 0x80}), 0), -32768);
  for (const char* bad : {"", "U", "U7", "U64", "F16", "F8", "S16ABCD", "U32AB", "U8A ", "U8AB", "X16", "U16AA",
                          "U32ABDC", "F32 ABCD"}) {
    EXPECT_FALSE(ParseFormat(bad, f)) << bad;
  }
}

TEST(CodesFormats, FloatsInTheFourOrdersPlcsUse) {
  Format f;
  const struct {
    const char* format;
    std::string bytes;
  } one[] = {{"F32", Bytes({0x3F, 0x80, 0, 0})},
             {"F32DCBA", Bytes({0, 0, 0x80, 0x3F})},
             {"F32BADC", Bytes({0x80, 0x3F, 0, 0})},
             {"F32CDAB", Bytes({0, 0, 0x3F, 0x80})}};
  for (const auto& c : one) {
    ASSERT_TRUE(ParseFormat(c.format, f));
    EXPECT_EQ(EncodeFloat(f, 1.0f), c.bytes) << c.format;
    for (float v : {1.0f, -0.0f, FLT_MAX, -FLT_MAX, FLT_MIN, std::numeric_limits<float>::denorm_min(), 123.456f}) {
      const float back = DecodeFloat(f, EncodeFloat(f, v), 0);
      EXPECT_EQ(back, v) << c.format;
      EXPECT_EQ(std::signbit(back), std::signbit(v));
    }
  }
  ASSERT_TRUE(ParseFormat("F32", f));
  EXPECT_TRUE(std::isnan(DecodeFloat(f, Bytes({0x7F, 0xC0, 0, 0}), 0)));
  EXPECT_TRUE(std::isinf(DecodeFloat(f, Bytes({0xFF, 0x80, 0, 0}), 0)));
  EXPECT_FALSE(FitsWhole(f, 0));
}

TEST(CodesFormats, LayoutsAndHowNumbersAndBytesFillThem) {
  std::vector<LayoutItem> items;
  ASSERT_TRUE(ParseLayout("U8 U8  u16 U16\tCRC16", items));
  ASSERT_EQ(items.size(), 5u);
  EXPECT_TRUE(items[4].isChecksum);
  EXPECT_EQ(items[2].format.size, 2);
  LayoutUse use;
  EXPECT_TRUE(FitNumbers(items, 4, use));
  EXPECT_EQ(use.repeats, (std::vector<size_t>{1, 1, 1, 1, 1}));
  EXPECT_TRUE(FitNumbers(items, 6, use));  // the last number item takes the rest
  EXPECT_EQ(use.repeats, (std::vector<size_t>{1, 1, 1, 3, 1}));
  EXPECT_FALSE(FitNumbers(items, 3, use));
  EXPECT_TRUE(FitBytes(items, 8, use));
  EXPECT_EQ(use.repeats, (std::vector<size_t>{1, 1, 1, 1, 1}));
  EXPECT_TRUE(FitBytes(items, 12, use));
  EXPECT_EQ(use.repeats[3], 3u);
  EXPECT_FALSE(FitBytes(items, 9, use));  // half a register left
  EXPECT_FALSE(FitBytes(items, 7, use));
  for (const char* bad : {"", "   ", "CRC16", "U8 CRC32", "U8,U8", "U16 AB"}) {
    EXPECT_FALSE(ParseLayout(bad, items)) << bad;
  }
}

}  // namespace

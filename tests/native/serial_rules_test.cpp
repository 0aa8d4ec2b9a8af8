// The serial engine's device-free rules.
#include <gtest/gtest.h>

#include "serial/serial_rules.h"

using wl::Framing;

TEST(BaudTable, ListedRatesStayAndOthersBecome9600) {
  for (int32_t rate : {1200, 2400, 4800, 9600, 19200, 28800, 38400, 57600, 115200}) {
    EXPECT_EQ(wl::BaudFromTable(rate), rate);
  }
  for (int32_t rate : {0, 300, -9600, 14400, 230400, 115201}) {
    EXPECT_EQ(wl::BaudFromTable(rate), 9600) << rate;
  }
}

TEST(PortNames, LowPortsPlainHighPortsThroughTheDeviceNamespace) {
  EXPECT_EQ(wl::PortDeviceName(3, "3"), "COM3");
  EXPECT_EQ(wl::PortDeviceName(3, "03"), "COM03");
  EXPECT_EQ(wl::PortDeviceName(2, "2.5"), "COM2.5");
  EXPECT_EQ(wl::PortDeviceName(12, "12"), "\\\\.\\COM12");
  EXPECT_EQ(wl::PortDeviceName(17, "17"), "\\\\.\\COM17");
  EXPECT_EQ(wl::PortDeviceName(256, "256"), "\\\\.\\COM256");
  EXPECT_FALSE(wl::PortInRange(0));
  EXPECT_TRUE(wl::PortInRange(1));
  EXPECT_TRUE(wl::PortInRange(17));  // USB adapters are often COM17 to COM40
  EXPECT_TRUE(wl::PortInRange(256));
  EXPECT_FALSE(wl::PortInRange(257));
  EXPECT_FALSE(wl::PortInRange(4294967297LL));  // not port 1 by its low bits
}

TEST(DataBits, StopBitsAndParityFollowTheByteSize) {
  Framing f{7, 2, true, 2};
  wl::ApplyDataBits(f, 8);  // eight bits lose parity and get one stop bit
  EXPECT_EQ(f.byteSize, 8);
  EXPECT_EQ(f.stopBits, 0);
  EXPECT_FALSE(f.parityEnabled);
  EXPECT_EQ(f.parity, 0);

  f = Framing{8, 2, true, 2};
  wl::ApplyDataBits(f, 5);  // five bits: two stop bits become one and a half
  EXPECT_EQ(f.stopBits, 1);
  EXPECT_TRUE(f.parityEnabled);
  f.stopBits = 0;
  wl::ApplyDataBits(f, 5);
  EXPECT_EQ(f.stopBits, 0);

  f = Framing{8, 2, true, 2};
  wl::ApplyDataBits(f, 7);  // six and seven keep parity, one stop bit
  EXPECT_EQ(f.stopBits, 0);
  EXPECT_TRUE(f.parityEnabled);
  EXPECT_EQ(f.parity, 2);

  f = Framing{8, 2, true, 1};
  wl::ApplyDataBits(f, 4);  // below five only the size changes
  EXPECT_EQ(f.byteSize, 4);
  EXPECT_EQ(f.stopBits, 2);
  EXPECT_TRUE(f.parityEnabled);

  f = Framing{8, 2, true, 1};
  wl::ApplyDataBits(f, -1);  // negative counts as very large: low byte, no parity
  EXPECT_EQ(f.byteSize, 0xFF);
  EXPECT_EQ(f.stopBits, 0);
  EXPECT_FALSE(f.parityEnabled);
}

TEST(LineTimeout, OutsideOneToThousandIsOneSecond) {
  EXPECT_EQ(wl::LineTimeoutPolls(1), 1u);
  EXPECT_EQ(wl::LineTimeoutPolls(1000), 1000u);
  EXPECT_EQ(wl::LineTimeoutPolls(0), 100u);
  EXPECT_EQ(wl::LineTimeoutPolls(1001), 100u);
  EXPECT_EQ(wl::LineTimeoutPolls(-5), 100u);
}

TEST(LineTimeout, TheQuietIsTPlusOnePollsOfTenMilliseconds) {
  EXPECT_EQ(wl::LineQuietMilliseconds(1), 20u);
  EXPECT_EQ(wl::LineQuietMilliseconds(100), 1010u);
  EXPECT_EQ(wl::LineQuietMilliseconds(1000), 10010u);
}

// What other programs leave on a port, and the time-outs of our own.
TEST(Bounds, ACallWaitsTooLongWhenItsTimeoutsAllowMoreThanTheBoundForItsSize) {
  const uint32_t M = 0xFFFFFFFFu;
  // Reads: all 0 and an interval alone never end a wait for a first byte.
  EXPECT_EQ(wl::LongestReadWait(0, 0, 0, 10), wl::kEndless);
  EXPECT_EQ(wl::LongestReadWait(500, 0, 0, 10), wl::kEndless);
  EXPECT_EQ(wl::LongestReadWait(M, 0, 0, 10), 0u);              // at once
  EXPECT_EQ(wl::LongestReadWait(M, M, 200, 10), 200u);          // first bytes, or c
  EXPECT_EQ(wl::LongestReadWait(M, M, M - 1, 10), M - 1);       // .NET's infinite ReadTimeout
  EXPECT_EQ(wl::LongestReadWait(M, 10, M, 10), wl::kEndless);   // starts no timer
  EXPECT_EQ(wl::LongestReadWait(500, 10, 200, 10), 300u);       // Quillport's
  EXPECT_EQ(wl::LongestReadWait(0, M, M, 2), 3ull * M);         // no 32-bit overflow
  EXPECT_TRUE(wl::ReadWaitsTooLong(M, M, M - 1, 1));
  EXPECT_TRUE(wl::ReadWaitsTooLong(0, 0, 3600000, 1));          // an hour
  EXPECT_TRUE(wl::ReadWaitsTooLong(0, 0, 0, 1));
  EXPECT_FALSE(wl::ReadWaitsTooLong(M, 0, 0, 100000));
  EXPECT_FALSE(wl::ReadWaitsTooLong(500, 10, 200, 100));
  EXPECT_FALSE(wl::ReadWaitsTooLong(0, 0, wl::kLongestPortWaitMilliseconds, 1));
  // For its size: Quillport's read of 5,000 bytes could wait 50 s.
  EXPECT_TRUE(wl::ReadWaitsTooLong(500, 10, 200, 5000));
  // Writes: pyserial's write_timeout=0 leaves a constant of MAXDWORD.
  EXPECT_EQ(wl::LongestWriteWait(0, 0, 10), wl::kEndless);
  EXPECT_TRUE(wl::WriteWaitsTooLong(0, 0, 1));
  EXPECT_TRUE(wl::WriteWaitsTooLong(0, M, 1));
  EXPECT_FALSE(wl::WriteWaitsTooLong(1, 500, 1000));
  EXPECT_TRUE(wl::WriteWaitsTooLong(9, 500, 4000));
}

TEST(Bounds, AByteTakesItsBitsAtThePortsRate) {
  EXPECT_EQ(wl::ByteMicroseconds(9600, 8, 0, 0), 1042u);     // 10 bits
  EXPECT_EQ(wl::ByteMicroseconds(1200, 8, 0, 0), 8334u);
  EXPECT_EQ(wl::ByteMicroseconds(1200, 7, 2, 2), 9167u);     // 7E2: 11 bits
  EXPECT_EQ(wl::ByteMicroseconds(19200, 8, 0, 0), 521u);
  EXPECT_EQ(wl::ByteMicroseconds(9600, 5, 0, 1), 782u);      // 7.5 bits
  EXPECT_EQ(wl::ByteMicroseconds(0, 8, 0, 0), 0u);
}

TEST(Bounds, AWriteMayTakeAFewSecondsPlusItsLineTimeInWholeSeconds) {
  EXPECT_EQ(wl::WriteBoundMilliseconds(0, 9600), wl::kWriteStartMilliseconds);
  EXPECT_EQ(wl::WriteBoundMilliseconds(9600, 9600), wl::kWriteStartMilliseconds + 12000);
  EXPECT_EQ(wl::WriteBoundMilliseconds(9601, 9600), wl::kWriteStartMilliseconds + 13000);
  EXPECT_EQ(wl::WriteBoundMilliseconds(1, 115200), wl::kWriteStartMilliseconds + 1000);
  EXPECT_EQ(wl::WriteBoundMilliseconds(9600, 115200), wl::kWriteStartMilliseconds + 1000);
  // A rate of 0 is taken as the slowest real one rather than dividing by it.
  EXPECT_EQ(wl::WriteBoundMilliseconds(110, 0), wl::kWriteStartMilliseconds + 12000);
  EXPECT_EQ(wl::WriteBoundMilliseconds(0xFFFFFFFFu, 110), 0xFFFFFFFEu);
}

TEST(Bounds, ALinePieceMayTakeWhatItNeedsAtThePortsRate) {
  // 65,536 bytes of 12 bits: 81.92 s at 9600, 2621.44 s at 300.
  EXPECT_EQ(wl::LinePieceMilliseconds(9600), 81920u);
  EXPECT_EQ(wl::LinePieceMilliseconds(300), 2621440u);
  // Fast rates and an unreadable rate of 0 never make it shorter than the
  // point where the rate is read, nor divide by zero.
  EXPECT_EQ(wl::LinePieceMilliseconds(921600), wl::kLineRateCheckMilliseconds);
  EXPECT_EQ(wl::LinePieceMilliseconds(0), wl::LinePieceMilliseconds(110));
}

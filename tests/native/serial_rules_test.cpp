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
  EXPECT_FALSE(wl::PortInRange(0));
  EXPECT_TRUE(wl::PortInRange(1));
  EXPECT_TRUE(wl::PortInRange(16));
  EXPECT_FALSE(wl::PortInRange(17));
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

TEST(Bounds, WhichTimeoutsLetACallWaitForEver) {
  EXPECT_TRUE(wl::ReadCanWaitForever(0, 0, 0));
  EXPECT_TRUE(wl::ReadCanWaitForever(500, 0, 0));  // the interval starts only with a byte
  EXPECT_FALSE(wl::ReadCanWaitForever(0xFFFFFFFFu, 0, 0));
  EXPECT_FALSE(wl::ReadCanWaitForever(500, 10, 200));
  EXPECT_FALSE(wl::ReadCanWaitForever(0, 0, 1));
  EXPECT_TRUE(wl::WriteCanWaitForever(0, 0));
  EXPECT_FALSE(wl::WriteCanWaitForever(1, 500));
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

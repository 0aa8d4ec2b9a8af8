// Devices made from spy logs as the spy writes them now: requests sent in
// pieces are one frame, a stream comes as it came, and the file names the
// tool that made it.
#include <gtest/gtest.h>

#include "wire/device_from_log.h"
#include "wire/device_model.h"
#include "wire/spy_log.h"

namespace {

nbdevice::DeviceFile Played(const std::string& text) {
  const nbdevice::ParsedFile parsed = nbdevice::ParseDeviceFile(text);
  EXPECT_TRUE(parsed.ok) << parsed.error << "\n" << text;
  return parsed.device;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// A log line of the plug-in's write of `bytes` at `ms`.
std::string Wrote(double ms, const std::string& bytes) { return nbspy::DataLine(ms, "COM1", '>', bytes) + "\n"; }

}  // namespace

TEST(DeviceFromLog, WritesCloserThanAFrameGapAreOneRequest) {
  // A Modbus frame one write per code (as wlCommSendASCII once sent it), at
  // 9600 baud: one request, as the slave heard it.
  const std::string frame("\x01\x03\x00\x00\x00\x02\xC4\x0B", 8);
  std::string log = std::string(nbspy::kLogHeader) + "\n" +
                    "      0.0 COM1   open \"COM1\": ok\n"
                    "      0.1 COM1   settings 9600 8N1, no flow control\n";
  for (size_t k = 0; k < frame.size(); ++k) log += Wrote(10 + 0.05 * static_cast<double>(k), frame.substr(k, 1));
  const std::string answer("\x01\x03\x04\x00\xE7\x01\xF4\x4A\x13", 9);
  log += nbspy::DataLine(30, "COM1", '<', answer, "(9 reads, latency 11.0 ms, came after 20.0)") + "\n";
  // A write 8 bytes long ends on the line 8.3 ms after it began: the next
  // 2.7 ms after that is the same frame, one 4.7 ms after it another.
  log += Wrote(100, "ABCDEFGH") + Wrote(111, "IJ") + Wrote(200, "ABCDEFGH") + Wrote(213, "IJ");
  const nbdevice::LogConversion made = nbdevice::DeviceFromLog(log, "COM1", "modbus.log");
  ASSERT_TRUE(made.ok) << made.error;
  EXPECT_EQ(Count(made.deviceFile, "\non "), 4u) << made.deviceFile;
  EXPECT_NE(made.deviceFile.find("on \"\\x01\\x03\\x00\\x00\\x00\\x02\\xC4\\x0B\" send wait 10 "), std::string::npos)
      << made.deviceFile;
  EXPECT_NE(made.deviceFile.find("on \"ABCDEFGHIJ\" silent"), std::string::npos) << made.deviceFile;
  EXPECT_NE(made.deviceFile.find("on \"IJ\" silent"), std::string::npos) << made.deviceFile;
  nbdevice::Device slave(Played(made.deviceFile));
  slave.open(0);
  slave.hear(frame, 1000);
  slave.advance(1100);
  EXPECT_EQ(slave.take(100), answer);

  // Without settings in the log the gap is 2 ms.
  const nbdevice::LogConversion bare = nbdevice::DeviceFromLog(Wrote(1, "A") + Wrote(2.5, "B") + Wrote(5, "C"), "", "b.log");
  ASSERT_TRUE(bare.ok) << bare.error;
  EXPECT_NE(bare.deviceFile.find("on \"AB\" silent\non \"C\" silent"), std::string::npos) << bare.deviceFile;
}

TEST(DeviceFromLog, AStreamReadInOneGoComesAsItCameAndTheFileNamesItsMaker) {
  // The streaming scale's recipe: ten readings a flush took at once after a
  // second, then the lines read as they came, 100 ms apart.
  std::string readings;
  for (int k = 0; k < 10; ++k) readings += (k < 5 ? "ST,+0\r\n" : "ST,+9\r\n");
  const std::string log = std::string(nbspy::kLogHeader) + "\n" +
                          "      0.0 COM1   open \"COM1\": ok\n"
                          "      0.1 COM1   settings 9600 8N1, no flow control\n" +
                          nbspy::DataLine(1000, "COM1", '<', readings, "(70 reads, came after 0.0)") + "\n" +
                          nbspy::DataLine(1008, "COM1", '<', "US,+8\r\n", "(7 reads, came after 1001.0)") + "\n" +
                          nbspy::DataLine(1108, "COM1", '<', "ST,+9\r\n", "(7 reads, came after 1101.0)") + "\n";
  const nbdevice::LogConversion made = nbdevice::DeviceFromLog(log, "", "s.log", nbdevice::kWirebenchMaker);
  ASSERT_TRUE(made.ok) << made.error;
  EXPECT_EQ(made.deviceFile.rfind("# The device on COM1 as s.log shows it (made by wbSpyToDevice).\n", 0), 0u)
      << made.deviceFile;
  EXPECT_NE(made.warning.find("s.log shows only that the 70 bytes first seen at 1000.0 ms came after 0.0 ms: their 10 lines"),
            std::string::npos) << made.warning;
  EXPECT_NE(made.deviceFile.find("# Perhaps not as the device did: the log shows only that "), std::string::npos);
  nbdevice::Device scale(Played(made.deviceFile));
  scale.open(0);
  scale.advance(450);
  EXPECT_EQ(scale.take(1000), "ST,+0\r\nST,+0\r\nST,+0\r\nST,+0\r\nST,+0\r\n");  // not all ten at once
  scale.advance(1050);
  EXPECT_EQ(scale.take(1000), "ST,+9\r\nST,+9\r\nST,+9\r\nST,+9\r\nST,+9\r\nUS,+8\r\n");
  scale.advance(1150);
  EXPECT_EQ(scale.take(1000), "ST,+9\r\n");
  scale.advance(1300);  // after the log's end the readings it saw as they came go round
  EXPECT_EQ(scale.take(1000), "US,+8\r\n");
  scale.advance(5000);
  EXPECT_EQ(scale.take(1000).find("ST,+0"), std::string::npos);  // the bulk came once

  // The runner's file says it is the runner's; a log whose lines came as
  // seen warns of nothing.
  const nbdevice::LogConversion runner = nbdevice::DeviceFromLog(
      "      1.0 COM1   >     3 \"W\\r\\n\"\n      5.0 COM1   <     4 \"12\\r\\n\"  (came after 2.0)\n", "", "w.log");
  ASSERT_TRUE(runner.ok);
  EXPECT_NE(runner.deviceFile.find("(made by nbrun --spy-to-device)"), std::string::npos);
  EXPECT_EQ(runner.warning, "");
  EXPECT_EQ(runner.deviceFile.find("played device"), std::string::npos);

  // A log of a played device says what it played, so the made device is
  // not taken for the real one; notes of another port do not count.
  const std::string played = nbspy::EventLine(0.5, "COM1", "played: seed 7") + "\n" +
                             nbspy::EventLine(0.6, "COM2", "played: seed 9") + "\n" +
                             Wrote(1, "W\r\n") +
                             nbspy::EventLine(1.5, "COM1", "played: garbled byte 2 by line 4") + "\n" +
                             nbspy::DataLine(5, "COM1", '<', "1X\r\n", "(came after 2.0)") + "\n";
  const nbdevice::LogConversion twin = nbdevice::DeviceFromLog(played, "COM1", "p.log");
  ASSERT_TRUE(twin.ok) << twin.error;
  EXPECT_NE(twin.deviceFile.find("# The log is of a played device (seed 7; garbled byte 2 by line 4): "),
            std::string::npos) << twin.deviceFile;
  EXPECT_EQ(twin.deviceFile.find("seed 9"), std::string::npos) << twin.deviceFile;
  // A damaged note's control bytes cannot break the comment that shows it.
  const nbdevice::LogConversion damaged = nbdevice::DeviceFromLog(
      nbspy::EventLine(0.5, "COM1", std::string("played: a\0b\rc", 13)) + "\n" + Wrote(1, "W\r\n"), "COM1", "d.log");
  ASSERT_TRUE(damaged.ok) << damaged.error;
  EXPECT_NE(damaged.deviceFile.find("(a\\x00b\\rc)"), std::string::npos) << damaged.deviceFile;
  Played(damaged.deviceFile);
}

// A log as the spy wrote it before its format had a number: answers in the
// pieces the reads took, settings and queues repeated, text lines only.
TEST(DeviceFromLog, ALogOfTheFirstFormatStillMakesItsDevice) {
  const std::string log =
      "       ms where  what (> the plug-in sent, < came back)\n"
      "     10.3 COM1   open \"COM1\": ok\n"
      "     19.5 COM1   settings 9600 8N1, no flow control\n"
      "     19.5 COM1   settings 9600 8N1, no flow control\n"
      "     19.6 COM1   queues receive 4096, transmit 4096: ok\n"
      "     25.4 COM1   >     4 \"ID\\r\\n\"\n"
      "     27.5 COM1   <     5 \"WL-SC\"  (5 reads, came after 25.6)\n"
      "     37.5 COM1   <     8 \"ALE,1.0\\r\"  (8 reads, came after 27.6)\n"
      "     40.0 COM1   <     1 \"\\n\"  (waiting since 37.5)\n"
      "     45.0 COM1   >     3 \"W\\r\\n\"\n"
      "     61.0 COM1   <    18 \"ST,GS,+0012.35 kg\\r\"  (18 reads, came after 51.0)\n"
      "    394.0 COM1   close: ok\n";
  const nbdevice::LogConversion made = nbdevice::DeviceFromLog(log, "COM1", "old.log");
  ASSERT_TRUE(made.ok) << made.error;
  nbdevice::Device scale(Played(made.deviceFile));
  scale.open(0);
  scale.hear("ID\r\n", 100);
  scale.advance(200);
  EXPECT_EQ(scale.take(100), "WL-SCALE,1.0\r\n") << made.deviceFile;  // the LF read later came with it
  scale.hear("W\r\n", 300);
  scale.advance(400);
  EXPECT_EQ(scale.take(100), "ST,GS,+0012.35 kg\r") << made.deviceFile;
}

// A device pulled out shows in the log as calls failing with a removed
// adapter's code and opens refused until one works: the made device is
// unplugged and plugged in between the same calls; a failure with another
// code is no removal.
TEST(DeviceFromLog, AnAdapterPulledOutIsPulledOutInTheMadeDevice) {
  const std::string header = std::string(nbspy::kLogHeader) + "\n";
  const std::string before = "      0.5 COM1   open \"COM1\": ok\n" + Wrote(1.4, "W\r\n") +
                             nbspy::DataLine(17.7, "COM1", '<', "ST,GS,+0012.34 kg\r\n") + "\n";
  const std::string removed = "   1873.4 COM1   reading the settings failed: error 1617\n"
                              "   2383.6 COM1   close: ok\n"
                              "   2383.7 COM1   open \"COM1\": error 2, no such file or device\n"
                              "   2884.8 COM1   open \"COM1\": error 2, no such file or device\n"
                              "   3388.7 COM1   open \"COM1\": ok\n";
  const nbdevice::LogConversion made =
      nbdevice::DeviceFromLog(header + before + removed + Wrote(3391.8, "W\r\n"), "COM1", "s.log", "a test");
  ASSERT_TRUE(made.ok) << made.error;
  // Halfway between the last call that worked and the first that failed,
  // and between the last refused open and the one that worked.
  EXPECT_EQ(Count(made.deviceFile, "at 945 unplug error 1617\n"), 1u) << made.deviceFile;
  EXPECT_EQ(Count(made.deviceFile, "at 3136 plug in\n"), 1u) << made.deviceFile;
  Played(made.deviceFile);

  const std::string refused = "   1873.4 COM1   reading the settings failed: error 87\n";
  const nbdevice::LogConversion other =
      nbdevice::DeviceFromLog(header + before + refused, "COM1", "s.log", "a test");
  ASSERT_TRUE(other.ok) << other.error;
  EXPECT_EQ(Count(other.deviceFile, "unplug"), 0u) << other.deviceFile;
}

// A server that closed shows in a log as the reset that answers the next
// request, or as the end of the connection: either way the made server
// closes after its last answer, hears nothing after it, and a new
// connection starts it again.
TEST(DeviceFromLog, AServerThatClosedClosesInTheMadeDevice) {
  const auto sent = [](double ms, const std::string& bytes) {
    return nbspy::DataLine(ms, "TCP", '>', bytes) + "\n";
  };
  const std::string log = std::string(nbspy::kLogHeader) + "\n" +
                          "      1.8 TCP    connect 127.0.0.7:5025: ok\n" + sent(3, "MEAS?\r\n") +
                          nbspy::DataLine(24, "TCP", '<', "+4.9\n") + "\n" + sent(32, "MEAS?\r\n") +
                          nbspy::DataLine(52, "TCP", '<', "+5.1\n") + "\n" + sent(75, "MEAS?\r\n") +
                          "     76.2 TCP    receive failed: error 10054, connection reset by the peer\n"
                          "     96.3 TCP    close: ok\n"
                          "     99.6 TCP    connect 127.0.0.7:5025: ok\n" + sent(100, "MEAS?\r\n") +
                          nbspy::DataLine(120, "TCP", '<', "+4.9\n") + "\n";
  const nbdevice::LogConversion made = nbdevice::DeviceFromLog(log, "127.0.0.7:5025", "m.log");
  ASSERT_TRUE(made.ok) << made.error;
  EXPECT_NE(made.deviceFile.find("on \"MEAS?\" send wait 20 \"+5.1\\n\" close\non \"MEAS?\" send wait 20 \"+4.9\\n\"\n"),
            std::string::npos) << made.deviceFile;
  EXPECT_EQ(Count(made.deviceFile, "\non "), 3u) << made.deviceFile;  // the request the reset answered is gone
  nbdevice::Device meter(Played(made.deviceFile));
  meter.open(0);
  meter.hear("MEAS?\r\n", 0);
  meter.hear("MEAS?\r\n", 100);
  meter.advance(200);
  EXPECT_EQ(meter.take(100), "+4.9\n+5.1\n");
  EXPECT_TRUE(meter.closed());
}

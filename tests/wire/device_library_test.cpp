// The device library (examples/devices): each file reads, and every check
// its family's bytes carry is right, as a real device's would be: the NMEA
// sentences' *hh, the EAN-13 check digits, the Modbus frames' CRC-16, the
// requests' included. The Modbus slave answers the frames it names and says
// nothing to a frame whose CRC is wrong.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "codes/checksums.h"
#include "wire/device_model.h"

using nbdevice::Answer;
using nbdevice::DeviceFile;

namespace {

DeviceFile Library(const std::string& name) {
  std::ifstream in(std::string(WL_DEVICES) + WL_SLASH + name, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_TRUE(in) << "cannot read " << name;
  const nbdevice::ParsedFile parsed = nbdevice::ParseDeviceFile(text.str());
  EXPECT_TRUE(parsed.ok) << name << ": " << parsed.error;
  return parsed.device;
}

// Every answer the file can send, each piece whole, the answer's end added.
std::vector<std::string> Sent(const DeviceFile& file) {
  std::vector<std::string> sent;
  auto add = [&](const Answer& answer) {
    for (const nbdevice::Piece& piece : answer) {
      if (!piece.close) sent.push_back(piece.bytes + (&piece == &answer.back() ? file.answerEnd : ""));
    }
  };
  for (const nbdevice::Rule& rule : file.rules) add(rule.answer);
  for (const nbdevice::Timed& timed : file.timed) add(timed.answer);
  return sent;
}

std::vector<std::string> Lines(const std::vector<std::string>& texts) {
  std::vector<std::string> lines;
  for (const std::string& text : texts) {
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!line.empty()) lines.push_back(line);
    }
  }
  return lines;
}

bool Ean13Holds(const std::string& code) {
  if (code.size() != 13 || code.find_first_not_of("0123456789") != std::string::npos) return false;
  int sum = 0;
  for (size_t at = 0; at < 13; ++at) sum += (code[at] - '0') * (at % 2 ? 3 : 1);
  return sum % 10 == 0;
}

// The checks themselves are the codes library's, which Wirecodes and the
// played devices compute with.
bool NmeaChecksumHolds(const std::string& sentence) { return wlcodes::SentenceChecks(sentence); }
bool ModbusCrcHolds(const std::string& frame) {
  return frame.size() >= 4 && wlcodes::FrameChecks(wlcodes::Checksum::Crc16Modbus, frame);
}

}  // namespace

TEST(DeviceLibrary, TheGpsSentencesCarryTheirChecksums) {
  EXPECT_TRUE(NmeaChecksumHolds("$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47"));
  EXPECT_FALSE(NmeaChecksumHolds("$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*46"));
  const DeviceFile gps = Library("gps-nmea.dev");
  EXPECT_EQ(gps.baud, 4800u);
  const std::vector<std::string> lines = Lines(Sent(gps));
  int gga = 0, rmc = 0, damaged = 0;
  for (const std::string& line : lines) {
    if (line[0] != '$') {
      // The end of a sentence the port opened in the middle of: the end of
      // one of the file's own.
      bool ends = false;
      for (const std::string& whole : lines) {
        ends = ends || (whole[0] == '$' && whole.size() > line.size() &&
                        whole.compare(whole.size() - line.size(), line.size(), line) == 0);
      }
      EXPECT_TRUE(ends) << line;
      continue;
    }
    if (!NmeaChecksumHolds(line)) {
      // The one sentence noise on the line damaged, for the recipe to skip.
      ++damaged;
      EXPECT_EQ(line.rfind("$GPRMC,", 0), 0u) << line;
      continue;
    }
    gga += line.rfind("$GPGGA,", 0) == 0;
    rmc += line.rfind("$GPRMC,", 0) == 0;
  }
  EXPECT_EQ(gga, 10);
  EXPECT_EQ(rmc, 10);
  EXPECT_EQ(damaged, 1);
}

TEST(DeviceLibrary, TheScannedCodesCarryTheirCheckDigits) {
  EXPECT_TRUE(Ean13Holds("4006381333931"));
  EXPECT_FALSE(Ean13Holds("4006381333932"));
  const DeviceFile scanner = Library("barcode.dev");
  const std::vector<std::string> codes = Sent(scanner);
  EXPECT_EQ(codes.size(), 4u);
  for (const std::string& code : codes) {
    ASSERT_EQ(code.back(), '\r') << code;
    EXPECT_TRUE(Ean13Holds(code.substr(0, code.size() - 1))) << code;
  }
}

TEST(DeviceLibrary, TheModbusFramesCarryTheirCrcAndABadOneGetsNoAnswer) {
  const DeviceFile slave = Library("modbus-rtu.dev");
  EXPECT_EQ(slave.baud, 9600u);
  const std::string one("\x01\x03\x00\x00\x00\x01\x84\x0A", 8);
  const std::string two("\x01\x03\x00\x00\x00\x02\xC4\x0B", 8);
  EXPECT_TRUE(ModbusCrcHolds(one));
  EXPECT_TRUE(ModbusCrcHolds(two));
  bool namesOne = false, namesTwo = false;
  for (const nbdevice::Rule& rule : slave.rules) {
    EXPECT_TRUE(ModbusCrcHolds(rule.request)) << nbdevice::Quoted(rule.request);
    namesOne = namesOne || rule.request == one;
    namesTwo = namesTwo || rule.request == two;
  }
  EXPECT_TRUE(namesOne && namesTwo);
  for (const std::string& reply : Sent(slave)) {
    EXPECT_TRUE(ModbusCrcHolds(reply)) << nbdevice::Quoted(reply);
  }

  // On the line: a request with one bit of its CRC wrong is not answered,
  // and does not stop the next good one from being heard.
  nbdevice::Device device(slave);
  device.setRate(9600);
  device.open(0);
  std::string bad = one;
  bad.back() ^= 1;
  device.hear(bad, 0);
  device.advance(100);
  EXPECT_EQ(device.waiting(), 0u);
  device.hear(one, 100);
  device.advance(200);
  EXPECT_EQ(device.take(100), std::string("\x01\x03\x02\x00\xE7\xF8\x0E", 7));
  device.hear(two, 200);
  device.advance(300);
  // Registers 0 and 1, high byte first: 231 and 500.
  EXPECT_EQ(device.take(100), std::string("\x01\x03\x04\x00\xE7\x01\xF4\x4A\x13", 9));
}

// Writing the set point (function 6) is answered with the request itself,
// and the register reads back as written until the next open.
TEST(DeviceLibrary, TheModbusSetPointReadsBackAsWritten) {
  const DeviceFile slave = Library("modbus-rtu.dev");
  const std::string write("\x01\x06\x00\x01\x01\xC2\x58\x0B", 8);
  const std::string readOne("\x01\x03\x00\x01\x00\x01\xD5\xCA", 8);
  const std::string readTwo("\x01\x03\x00\x00\x00\x02\xC4\x0B", 8);
  nbdevice::Device device(slave);
  device.setRate(9600);
  device.open(0);
  const auto ask = [&](const std::string& request, nbdevice::Millis at) {
    device.hear(request, at);
    device.advance(at + 100);
    const std::string reply = device.take(100);
    EXPECT_TRUE(ModbusCrcHolds(reply)) << nbdevice::Quoted(reply);
    return reply;
  };
  EXPECT_EQ(ask(readOne, 0), std::string("\x01\x03\x02\x01\xF4\xB8\x53", 7));  // 500
  EXPECT_EQ(ask(write, 100), write);
  EXPECT_EQ(ask(readOne, 200), std::string("\x01\x03\x02\x01\xC2\x38\x45", 7));  // 450
  EXPECT_EQ(ask(readTwo, 300).substr(5, 2), std::string("\x01\xC2", 2));
  device.open(400);
  EXPECT_EQ(ask(readOne, 400), std::string("\x01\x03\x02\x01\xF4\xB8\x53", 7));
}

TEST(DeviceLibrary, EveryFamilyReads) {
  for (const char* name : {"scale-stream.dev", "modem-at.dev", "scpi-meter.dev"}) {
    const DeviceFile file = Library(name);
    EXPECT_FALSE(file.rules.empty() && file.timed.empty()) << name;
  }
}

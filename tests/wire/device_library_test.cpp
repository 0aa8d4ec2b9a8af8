// The device library (examples/devices): each file reads, and every check
// its family's bytes carry is right, as a real device's would be: the NMEA
// sentences' *hh, the EAN-13 check digits, the Modbus frames' CRC-16, the
// requests' included. The Modbus slave answers the frames it names and says
// nothing to a frame whose CRC is wrong.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

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

// "$GPRMC,...*hh": hh is the XOR of the bytes between $ and *.
bool NmeaChecksumHolds(const std::string& sentence) {
  const size_t star = sentence.rfind('*');
  if (sentence.empty() || sentence[0] != '$' || star == std::string::npos || star + 3 != sentence.size()) {
    return false;
  }
  unsigned sum = 0;
  for (size_t at = 1; at < star; ++at) sum ^= static_cast<unsigned char>(sentence[at]);
  char hex[3];
  std::snprintf(hex, sizeof hex, "%02X", sum);
  return sentence.compare(star + 1, 2, hex) == 0;
}

bool Ean13Holds(const std::string& code) {
  if (code.size() != 13 || code.find_first_not_of("0123456789") != std::string::npos) return false;
  int sum = 0;
  for (size_t at = 0; at < 13; ++at) sum += (code[at] - '0') * (at % 2 ? 3 : 1);
  return sum % 10 == 0;
}

// Modbus RTU: the frame's last two bytes are the CRC-16 (polynomial 0xA001
// reflected, start 0xFFFF) of the rest, low byte first.
bool ModbusCrcHolds(const std::string& frame) {
  if (frame.size() < 4) return false;
  unsigned crc = 0xFFFF;
  for (size_t at = 0; at + 2 < frame.size(); ++at) {
    crc ^= static_cast<unsigned char>(frame[at]);
    for (int bit = 0; bit < 8; ++bit) crc = crc & 1 ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return static_cast<unsigned char>(frame[frame.size() - 2]) == (crc & 0xFF) &&
         static_cast<unsigned char>(frame[frame.size() - 1]) == (crc >> 8);
}

}  // namespace

TEST(DeviceLibrary, TheGpsSentencesCarryTheirChecksums) {
  EXPECT_TRUE(NmeaChecksumHolds("$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47"));
  EXPECT_FALSE(NmeaChecksumHolds("$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*46"));
  const DeviceFile gps = Library("gps-nmea.dev");
  EXPECT_EQ(gps.baud, 4800u);
  const std::vector<std::string> lines = Lines(Sent(gps));
  int gga = 0, rmc = 0;
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
    EXPECT_TRUE(NmeaChecksumHolds(line)) << line;
    gga += line.rfind("$GPGGA,", 0) == 0;
    rmc += line.rfind("$GPRMC,", 0) == 0;
  }
  EXPECT_EQ(gga, 10);
  EXPECT_EQ(rmc, 10);
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

TEST(DeviceLibrary, EveryFamilyReads) {
  for (const char* name : {"scale-stream.dev", "modem-at.dev", "scpi-meter.dev"}) {
    const DeviceFile file = Library(name);
    EXPECT_FALSE(file.rules.empty() && file.timed.empty()) << name;
  }
}

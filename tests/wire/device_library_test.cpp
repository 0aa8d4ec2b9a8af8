// The device library (examples/devices): each file reads, and every check
// its family's bytes carry is right, as a real device's would be: the NMEA
// sentences' *hh, the EAN-13 check digits, the Modbus frames' CRC-16, the
// requests' included. The Modbus slave answers the frames it names and says
// nothing to a frame whose CRC is wrong.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>
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


namespace {

std::string ModbusFrame(const std::string& bytes) {
  return bytes + wlcodes::ChecksumBytes(wlcodes::Checksum::Crc16Modbus, bytes);
}

std::string High16(unsigned value) { return {static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)}; }

}  // namespace

// A Modbus master reads every range of the map, writes a register and
// reads it back, and is answered with exception 2 outside the map; every
// answer carries its CRC, and a request whose CRC is wrong is not heard.
TEST(DeviceLibrary, TheModbusMapAnswersEveryRangeAMasterAsksFor) {
  nbdevice::Device device(Library("modbus-map.dev"));
  device.setByteTime(1042);  // 9600 baud
  device.open(0);
  nbdevice::Millis now = 0;
  auto ask = [&](const std::string& request) {
    device.hear(request, now);
    now += 100;
    device.advance(now);
    const std::string reply = device.take(1000);
    if (!reply.empty()) {
      EXPECT_TRUE(ModbusCrcHolds(reply)) << nbdevice::Quoted(reply);
    }
    return reply;
  };
  std::vector<unsigned> map = {231, 500, 0, 1200, 7, 42, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  auto read = [&](unsigned first, unsigned count) {
    return ask(ModbusFrame("\x01\x03" + High16(first) + High16(count)));
  };
  auto expected = [&](unsigned first, unsigned count) {
    std::string data;
    for (unsigned k = first; k < first + count; ++k) data += High16(map[k]);
    return ModbusFrame(std::string("\x01\x03", 2) + static_cast<char>(2 * count) + data);
  };
  for (unsigned first = 0; first < 16; ++first) {
    for (unsigned count = 1; first + count <= 16; ++count) {
      EXPECT_EQ(read(first, count), expected(first, count)) << first << " " << count;
    }
  }
  const std::string outside = ModbusFrame(std::string("\x01\x83\x02", 3));
  EXPECT_EQ(read(15, 2), outside);
  EXPECT_EQ(read(16, 1), outside);
  EXPECT_EQ(read(300, 1), outside);

  const std::string write = ModbusFrame("\x01\x06" + High16(3) + High16(0xBEEF));
  EXPECT_EQ(ask(write), write);
  map[3] = 0xBEEF;
  EXPECT_EQ(read(2, 3), expected(2, 3));
  EXPECT_EQ(ask(ModbusFrame("\x01\x06" + High16(16) + High16(1))), ModbusFrame(std::string("\x01\x86\x02", 3)));
  EXPECT_EQ(read(0, 16), expected(0, 16));  // the refused write changed nothing

  std::string bad = ModbusFrame("\x01\x03" + High16(0) + High16(1));
  bad.back() ^= 0x10;
  EXPECT_EQ(ask(bad), "");
  EXPECT_EQ(ask(ModbusFrame("\x02\x03" + High16(0) + High16(1))), "");  // another slave's
  EXPECT_EQ(read(0, 1), expected(0, 1));
}

// Every sentence the moving receiver sends checks, its time goes on, and
// its position moves.
TEST(DeviceLibrary, TheMovingGpsSendsValidSentencesThatMove) {
  nbdevice::Device gps(Library("gps-moving.dev"));
  gps.setRate(4800);
  gps.setTimeOfDay(0, 1700000000000);  // 2023-11-14 22:13:20 UTC
  gps.open(0);
  gps.setQueueSize(1 << 20);
  gps.advance(20000);
  std::vector<std::string> lines = Lines({gps.take(1 << 20)});
  ASSERT_EQ(lines.size(), 40u);
  std::set<std::string> times, places;
  for (size_t k = 0; k < lines.size(); ++k) {
    const std::string& line = lines[k];
    EXPECT_TRUE(NmeaChecksumHolds(line)) << line;
    EXPECT_EQ(line.rfind(k % 2 ? "$GPRMC," : "$GPGGA,", 0), 0u) << line;
    const std::vector<std::string> fields = [&] {
      std::vector<std::string> parts;
      std::stringstream in(line);
      for (std::string part; std::getline(in, part, ',');) parts.push_back(part);
      return parts;
    }();
    ASSERT_GE(fields.size(), 10u) << line;
    const size_t lat = k % 2 ? 3 : 2;
    EXPECT_EQ(fields[lat].size(), 8u) << line;  // ddmm.mmm
    EXPECT_EQ(fields[lat + 2].size(), 9u) << line;  // dddmm.mmm
    times.insert(fields[1]);
    places.insert(fields[lat] + fields[lat + 2]);
    if (k % 2) {
      EXPECT_EQ(fields[9], "141123") << line;
    }
  }
  EXPECT_EQ(*times.begin(), "221321.00");
  EXPECT_EQ(times.size(), 20u);
  EXPECT_GT(places.size(), 10u);
}

// The balance answers S with one reading, streams a reading every 100 ms
// after SIR, and stops at @.
TEST(DeviceLibrary, TheBalanceStreamsAfterSirAndStopsAtTheAt) {
  nbdevice::Device balance(Library("balance-sir.dev"));
  balance.open(0);
  auto read = [&](const std::string& request, nbdevice::Millis at, nbdevice::Millis until) {
    if (!request.empty()) balance.hear(request, at);
    balance.advance(until);
    return Lines({balance.take(1 << 16)});
  };
  const std::vector<std::string> one = read("S\r\n", 0, 1000);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].rfind("S S ", 0), 0u);
  const std::vector<std::string> streamed = read("SIR\r\n", 1000, 2050);
  ASSERT_EQ(streamed.size(), 11u);  // OK and ten readings
  EXPECT_EQ(streamed[0], "OK");
  for (size_t k = 1; k < streamed.size(); ++k) {
    EXPECT_EQ(streamed[k].size(), 15u) << streamed[k];
    EXPECT_EQ(streamed[k].substr(streamed[k].size() - 2), " g") << streamed[k];
  }
  EXPECT_EQ(read("@\r\n", 2050, 2060), (std::vector<std::string>{"OK"}));
  EXPECT_TRUE(read("", 0, 10000).empty());
}

// Every file of the library reads and plays: it answers its own requests
// or sends by itself (one that answers only binary patterns has its own
// test above), and keeps to its queue.
TEST(DeviceLibrary, EveryFileReadsAndPlays) {
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(WL_DEVICES)) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() != ".dev") continue;
    ++files;
    const DeviceFile file = Library(name);
    nbdevice::Device device(file);
    device.setQueueSize(1 << 16);
    device.open(0);
    nbdevice::Millis now = 0;
    bool exact = false;
    size_t sent = 0;
    auto play = [&](nbdevice::Millis until) {
      for (; now < until; now += 100) {
        device.advance(now);
        EXPECT_LE(device.waiting(), size_t(1) << 16) << name;
        sent += device.take(1 << 16).size();
      }
    };
    for (const nbdevice::Rule& rule : file.rules) {
      if (rule.kind != nbdevice::RequestKind::Exact) continue;
      exact = true;
      device.hear(rule.request + (file.requestEnds.empty() ? "" : file.requestEnds[0]), now);
      play(now + 500);
    }
    play(now + 10000);
    if (exact || !file.timed.empty()) {
      EXPECT_GT(sent, 0u) << name;
    }
  }
  EXPECT_GE(files, 10u);
}

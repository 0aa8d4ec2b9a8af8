// The spy's log: its lines read back, settings and errors in words, and
// reads joined into the pieces the bytes came in.
#include <gtest/gtest.h>

#include <vector>

#include "wire/spy_log.h"

using nbspy::LogRecord;
using nbspy::ParseLogLine;

namespace {

// Reads `bytes` one at a time, as a line receive does, each after a poll
// that finds them and `waitingAfter` more bytes waiting.
void ReadBytes(nbspy::ReadJoiner& joiner, uintptr_t channel, const std::string& bytes,
               uint32_t waitingAfter, double ms) {
  for (size_t k = 0; k < bytes.size(); ++k) {
    joiner.polled(channel, static_cast<uint32_t>(bytes.size() - k) + waitingAfter, ms);
    joiner.read(channel, "COM1", bytes.substr(k, 1), 1, ms, 0.01);
  }
}

}  // namespace

TEST(SpyLog, LinesReadBackAsWritten) {
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  LogRecord record;
  const std::string line = nbspy::DataLine(1234.56, "COM12", '<', all, "(3 reads)");
  ASSERT_TRUE(ParseLogLine(line, record)) << line;
  EXPECT_DOUBLE_EQ(record.ms, 1234.6);
  EXPECT_EQ(record.where, "COM12");
  EXPECT_EQ(record.direction, '<');
  EXPECT_EQ(record.bytes, all);
  EXPECT_DOUBLE_EQ(record.cameMs, record.ms);
  ASSERT_TRUE(ParseLogLine(nbspy::DataLine(20, "COM1", '<', "\n", "(waiting since 12.5)"), record));
  EXPECT_DOUBLE_EQ(record.cameMs, 12.5);

  ASSERT_TRUE(ParseLogLine(nbspy::DataLine(0, "TCP", '>', "a \"b\" c"), record));
  EXPECT_EQ(record.direction, '>');
  EXPECT_EQ(record.bytes, "a \"b\" c");
  ASSERT_TRUE(ParseLogLine(nbspy::DataLine(0, "TCP", '<', "", "the peer closed the connection"), record));
  EXPECT_EQ(record.direction, '<');
  EXPECT_EQ(record.bytes, "");

  ASSERT_TRUE(ParseLogLine(nbspy::EventLine(7, "COM1", "open \"COM1\": ok"), record));
  EXPECT_EQ(record.direction, ' ');
  EXPECT_EQ(record.text, "open \"COM1\": ok");
  EXPECT_FALSE(ParseLogLine("       ms where  what", record));

  // Lines of one dialogue line up.
  const std::string out = nbspy::DataLine(1.0, "COM1", '>', "W\r\n");
  const std::string in = nbspy::DataLine(120.5, "COM1", '<', "ST\r\n");
  EXPECT_EQ(out, "      1.0 COM1   >     3 \"W\\r\\n\"");
  EXPECT_EQ(out.find('"'), in.find('"'));
}

TEST(SpyLog, SettingsAndErrorsInWords) {
  nbspy::LineSettings plain;
  plain.baud = 9600;
  EXPECT_EQ(nbspy::SettingsText(plain), "settings 9600 8N1, no flow control");
  nbspy::LineSettings flow;
  flow.baud = 19200;
  flow.byteSize = 7;
  flow.parity = 2;
  flow.stopBits = 1;
  flow.ctsFlow = true;
  flow.rtsControl = 2;
  flow.xonXoffIn = true;
  EXPECT_EQ(nbspy::SettingsText(flow), "settings 19200 7E1.5, flow CTS, RTS handshake, XON/XOFF in");
  EXPECT_EQ(nbspy::TimeoutsText(0xFFFFFFFFu, 0, 0, 1, 500),
            "time-outs read interval max, read 0 n + 0, write 1 n + 500");
  EXPECT_EQ(nbspy::ErrorText(5), "error 5, access denied (in use?)");
  EXPECT_EQ(nbspy::ErrorText(10061), "error 10061, connection refused");
  EXPECT_EQ(nbspy::ErrorText(4242), "error 4242");
}

TEST(ReadJoiner, ReadsJoinIntoThePiecesTheBytesCameIn) {
  std::vector<LogRecord> lines;
  std::vector<std::string> texts;
  nbspy::ReadJoiner joiner([&](const std::string& line) {
    LogRecord record;
    EXPECT_TRUE(ParseLogLine(line, record)) << line;
    lines.push_back(record);
    texts.push_back(line);
  });
  // An answer in two pieces, read a byte at a time: two lines, each at the
  // time its piece was first seen waiting.
  joiner.polled(1, 0, 5);
  joiner.polled(1, 6, 10);
  ReadBytes(joiner, 1, "ST,", 3, 11);
  joiner.polled(1, 3 + 13, 20);  // the second piece came before the first was read
  ReadBytes(joiner, 1, "GS,", 13, 21);
  ReadBytes(joiner, 1, "+0012.34 kg\r\n", 0, 22);
  joiner.flush();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].bytes, "ST,GS,");
  EXPECT_DOUBLE_EQ(lines[0].ms, 10);
  EXPECT_NE(texts[0].find("(6 reads, came after 5.0)"), std::string::npos) << texts[0];
  EXPECT_DOUBLE_EQ(lines[0].afterMs, 5);  // the poll that found nothing
  EXPECT_EQ(lines[1].bytes, "+0012.34 kg\r\n");
  EXPECT_DOUBLE_EQ(lines[1].ms, 20);
  EXPECT_DOUBLE_EQ(lines[1].afterMs, 11);  // the last poll that saw only the first piece

  // One read of both pieces is one line; reads no poll announced are a line
  // each; anything logged in between (flush) ends a line.
  lines.clear();
  joiner.polled(1, 2, 30);
  joiner.polled(1, 5, 31);
  joiner.read(1, "COM1", "abcde", 5, 32, 0);
  joiner.read(1, "COM1", "f", 1, 33, 0);
  joiner.read(1, "COM1", "g", 1, 34, 0);
  joiner.polled(1, 2, 35);
  joiner.read(1, "COM1", "h", 1, 36, 0);
  joiner.flush();
  joiner.read(1, "COM1", "i", 1, 37, 0);
  joiner.flush();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0].bytes, "abcde");
  EXPECT_EQ(lines[1].bytes, "f");
  EXPECT_DOUBLE_EQ(lines[1].ms, 33);
  EXPECT_EQ(lines[3].bytes, "h");
  EXPECT_EQ(lines[4].bytes, "i");  // same piece, but a line came between
  EXPECT_DOUBLE_EQ(lines[4].ms, 37);
  EXPECT_DOUBLE_EQ(lines[4].cameMs, 35);

  // A read that comes back short ends its line with what it asked and how
  // long it waited; reads that found nothing gather in one line; another
  // channel, or closing this one, ends a line.
  lines.clear();
  texts.clear();
  joiner.read(1, "COM1", "0123", 20, 100, 300);
  joiner.read(1, "COM1", "", 1, 400, 210);
  joiner.read(1, "COM1", "", 1, 610, 210);
  joiner.read(2, "COM2", "", 1, 820, 10);
  joiner.polled(2, 1, 830);
  joiner.read(2, "COM2", "x", 1, 831, 0);
  joiner.forget(2);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].bytes, "0123");
  EXPECT_NE(texts[0].find("(asked 20, waited 300 ms)"), std::string::npos) << texts[0];
  EXPECT_EQ(lines[1].bytes, "");
  EXPECT_NE(texts[1].find("nothing  (2 reads, asked 1, waited 420 ms)"), std::string::npos) << texts[1];
  EXPECT_EQ(lines[2].where, "COM2");
  EXPECT_NE(texts[2].find("nothing  (asked 1, waited 10 ms)"), std::string::npos) << texts[2];
  EXPECT_EQ(lines[3].bytes, "x");

  // Bytes still waiting at a close show as never read, with when they came.
  lines.clear();
  texts.clear();
  joiner.polled(3, 0, 900);
  joiner.polled(3, 4, 910);
  joiner.read(3, "COM3", "ab\r", 3, 911, 0);
  joiner.neverRead(3, "COM3", "\n", 950);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].bytes, "\n");
  EXPECT_NE(texts[1].find("(never read, came after 900.0)"), std::string::npos) << texts[1];
  EXPECT_DOUBLE_EQ(lines[1].afterMs, 900);
}

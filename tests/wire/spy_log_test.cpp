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

// The lines a joiner writes, as read back and as written.
struct Joined {
  std::vector<LogRecord> lines;
  std::vector<std::string> texts;
  nbspy::ReadJoiner joiner{[this](const std::string& line) {
    LogRecord record;
    EXPECT_TRUE(ParseLogLine(line, record)) << line;
    lines.push_back(record);
    texts.push_back(line);
  }};
};

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
  EXPECT_EQ(record.reads, 3);
  EXPECT_DOUBLE_EQ(record.cameMs, record.ms);
  // Bytes that are not all text show in hex beside their text.
  const std::string frame("\x01\x03\x04\x00\xE7\x01\xF4\x4A\x13", 9);
  const std::string binary = nbspy::DataLine(34, "COM1", '<', frame, "(9 reads, latency 5.0 ms)");
  EXPECT_EQ(binary, "     34.0 COM1   <     9 01 03 04 00 E7 01 F4 4A 13  \".......J.\"  (9 reads, latency 5.0 ms)");
  ASSERT_TRUE(ParseLogLine(binary, record)) << binary;
  EXPECT_EQ(record.bytes, frame);
  EXPECT_DOUBLE_EQ(record.latencyMs, 5);
  EXPECT_EQ(record.reads, 9);
  EXPECT_FALSE(ParseLogLine("     34.0 COM1   <     3 01 0G 02  \"...\"", record));
  EXPECT_FALSE(ParseLogLine("     34.0 COM1   <     3 01 02  \"..\"", record));
  ASSERT_TRUE(ParseLogLine("     34.0 COM1   <     1 22  \"\"\"", record));  // a quote in the text beside
  EXPECT_EQ(record.bytes, "\"");
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
  EXPECT_FALSE(ParseLogLine("       ms where  what", record));  // the header of either format
  EXPECT_FALSE(ParseLogLine(nbspy::kLogHeader, record));

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

// Every kind of event the spy writes reads back as that kind, with what a
// reader of the log needs, and is written again byte for byte; words a
// kind does not take (a later format's, a damaged line) stay whole.
TEST(SpyLog, EventsReadBackAsTheirKindAndWriteBackTheSame) {
  using nbspy::EventKind;
  const struct {
    const char* text;
    EventKind kind;
    const char* what;
    uint32_t error;  // of a failed outcome; 0: none
  } cases[] = {
      {"open \"COM1\": ok", EventKind::Open, "COM1", 0},
      {"open \"C:\\out\\a \"b\".txt\" to read and write: error 123, not a file's name (NUL, CON, COM1 ... "
       "name devices)",
       EventKind::Open, "C:\\out\\a \"b\".txt", 123},
      {"close: ok", EventKind::Close, "", 0},
      {"close \"log.txt\" (12 bytes written) (3 bytes read): error 6, not an open handle", EventKind::Close,
       "log.txt", 6},
      {"read of 5 bytes failed: error 1617", EventKind::Failed, "read of 5 bytes", 1617},
      {"wait to receive failed: error 10038, not a socket", EventKind::Failed, "wait to receive", 10038},
      {"settings 9600 8N1, no flow control", EventKind::Settings, "9600 8N1, no flow control", 0},
      {"settings 300 5M2, flow DSR: refused, error 87, a setting the device refuses", EventKind::Settings,
       "300 5M2, flow DSR", 87},
      {"time-outs read interval max, read 0 n + 0, write 1 n + 500", EventKind::Timeouts,
       "read interval max, read 0 n + 0, write 1 n + 500", 0},
      {"queues receive 4096, transmit 4096: ok", EventKind::Queues, "receive 4096, transmit 4096", 0},
      {"line errors: overrun, framing", EventKind::LineErrors, "overrun, framing", 0},
      {"find \"scale.local\": 127.0.0.7", EventKind::Find, "scale.local", 0},
      {"find \"nowhere\": error 11001, no such host", EventKind::Find, "nowhere", 11001},
      {"connect 127.0.0.7:5000: ok", EventKind::Connect, "127.0.0.7:5000", 0},
      {"connect 127.0.0.1:81: error 10061, connection refused", EventKind::Connect, "127.0.0.1:81", 10061},
      {"connect 127.0.0.7:5000: given up", EventKind::Connect, "127.0.0.7:5000", 0},
      {"waited 500 ms to receive: time-out", EventKind::Waited, "500 ms to receive", 0},
      {"played: garbled byte 2 by line 4", EventKind::Played, "garbled byte 2 by line 4", 0},
      {"the line above 3 times more", EventKind::Repeated, "3", 0},
      {"the line above many times more", EventKind::Other, "the line above many times more", 0},
      {"open COM1 at once", EventKind::Other, "open COM1 at once", 0},
      {"connect 127.0.0.7:5000: maybe", EventKind::Other, "connect 127.0.0.7:5000: maybe", 0},
  };
  for (const auto& c : cases) {
    const nbspy::Event e = nbspy::ReadEvent(c.text);
    EXPECT_EQ(static_cast<int>(e.kind), static_cast<int>(c.kind)) << c.text;
    EXPECT_EQ(e.what, c.what) << c.text;
    EXPECT_EQ(e.outcome.error, c.error) << c.text;
    EXPECT_EQ(nbspy::EventText(e), c.text);
  }
  const nbspy::Event given = nbspy::ReadEvent("connect 127.0.0.7:5000: given up");
  EXPECT_EQ(given.outcome.is, nbspy::Outcome::GivenUp);
  const nbspy::Event file = nbspy::ReadEvent("close \"log.txt\" (12 bytes written) (3 bytes read): ok");
  EXPECT_EQ(file.written, 12u);
  EXPECT_EQ(file.read, 3u);
  EXPECT_EQ(nbspy::ReadEvent("open \"out.txt\" to write: ok").access, " to write");
  EXPECT_EQ(nbspy::ReadEvent("find \"scale.local\": 127.0.0.7").address, "127.0.0.7");
  // An error's words are the log's own: any words after its number read as it.
  const nbspy::Event older = nbspy::ReadEvent("open \"COM3\": error 5, access denied");
  EXPECT_EQ(older.outcome, nbspy::FailedWith(5));
  // A settings line gives the time of a character; refused ones give none.
  EXPECT_NEAR(nbspy::SettingsByteMs(nbspy::ReadEvent("settings 9600 8N1, no flow control")), 1.0417, 1e-3);
  EXPECT_EQ(nbspy::SettingsByteMs(nbspy::ReadEvent(cases[7].text)), 0);
}

TEST(ReadJoiner, ReadsJoinIntoThePiecesTheBytesCameIn) {
  Joined joined;
  auto& [lines, texts, joiner] = joined;
  // An answer in two pieces, read a byte at a time: one line, at the time
  // its first piece was first seen waiting, as no look between them found
  // the queue empty.
  joiner.polled(1, 0, 5);
  joiner.polled(1, 6, 10);
  ReadBytes(joiner, 1, "ST,", 3, 11);
  joiner.polled(1, 3 + 13, 20);  // the second piece came before the first was read
  ReadBytes(joiner, 1, "GS,", 13, 21);
  ReadBytes(joiner, 1, "+0012.34 kg\r\n", 0, 22);
  joiner.flush();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].bytes, "ST,GS,+0012.34 kg\r\n");
  EXPECT_DOUBLE_EQ(lines[0].ms, 10);
  EXPECT_NE(texts[0].find("(19 reads, came after 5.0)"), std::string::npos) << texts[0];
  EXPECT_DOUBLE_EQ(lines[0].afterMs, 5);  // the poll that found nothing

  // One read of both pieces is one line; reads no poll announced join the
  // line when they come less than an idle gap after it; anything logged in
  // between (flush) ends a line.
  lines.clear();
  joiner.polled(1, 2, 30);
  joiner.polled(1, 5, 31);
  joiner.read(1, "COM1", "abcde", 5, 32, 0);
  joiner.read(1, "COM1", "f", 1, 60, 0);
  joiner.read(1, "COM1", "g", 1, 61, 0);
  joiner.polled(1, 0, 80);
  joiner.polled(1, 2, 100);
  joiner.read(1, "COM1", "h", 1, 101, 0);
  joiner.flush();
  joiner.read(1, "COM1", "i", 1, 102, 0);
  joiner.flush();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].bytes, "abcde");
  EXPECT_EQ(lines[1].bytes, "fg");
  EXPECT_DOUBLE_EQ(lines[1].ms, 60);
  EXPECT_EQ(lines[1].reads, 2);
  EXPECT_EQ(lines[2].bytes, "h");
  EXPECT_EQ(lines[3].bytes, "i");  // same piece, but a line came between
  EXPECT_DOUBLE_EQ(lines[3].ms, 102);
  EXPECT_DOUBLE_EQ(lines[3].cameMs, 100);

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

// An answer read in the pieces a line receive's polls found, at 9600 baud:
// the pieces came less than an idle gap apart at the line's rate, so they
// are one line, with its latency from the request; a piece long after is
// a line of its own.
TEST(ReadJoiner, AnAnswerIsOneLineWithItsLatency) {
  Joined joined;
  auto& [lines, texts, joiner] = joined;
  joiner.setByteTime(5, 10.0 / 9.6);
  joiner.wrote(5, 10);
  joiner.polled(5, 0, 11);
  ReadBytes(joiner, 5, "S ", 0, 21);
  ReadBytes(joiner, 5, "S      12.", 0, 31);
  ReadBytes(joiner, 5, "345 g\r", 0, 40);
  joiner.polled(5, 0, 60);  // a look that found nothing: what comes next is another line
  ReadBytes(joiner, 5, "X", 0, 100);
  joiner.flush();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].bytes, "S S      12.345 g\r");
  EXPECT_DOUBLE_EQ(lines[0].ms, 21);
  EXPECT_EQ(lines[0].reads, 18);
  EXPECT_NEAR(lines[0].latencyMs, 10, 0.05);  // its first byte was there a character before the poll
  EXPECT_NE(texts[0].find("(18 reads, latency 10.0 ms, came after 11.0)"), std::string::npos) << texts[0];
  EXPECT_EQ(lines[1].bytes, "X");
  EXPECT_LT(lines[1].latencyMs, 0);  // one request, one latency
  // At a slower rate the same polls' pieces are further apart: still one line.
  joiner.setByteTime(6, 10.0 / 1.2);
  joiner.polled(6, 0, 0);
  ReadBytes(joiner, 6, "AB", 0, 20);
  ReadBytes(joiner, 6, "CD", 0, 30);
  // A binary answer read a byte an action is one line; what came after
  // the action ended is another answer.
  joiner.actionEnded();
  joiner.polled(6, 3, 50);
  for (const char* byte : {"\x01", "\x02", "\x03"}) {
    joiner.read(6, "COM6", byte, 1, 51, 0.1);
    joiner.actionEnded();
  }
  joiner.polled(6, 0, 52);
  joiner.polled(6, 2, 53);
  joiner.read(6, "COM6", "EF", 2, 54, 0.1);
  joiner.flush();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[2].bytes, "ABCD");
  EXPECT_EQ(lines[3].bytes, "\x01\x02\x03");
  EXPECT_EQ(lines[4].bytes, "EF");

  // The rest of a piece that came before the request (the LF a line
  // receive left) is no answer to it: the latency is the next answer's.
  lines.clear();
  joiner.setByteTime(7, 1);
  joiner.polled(7, 2, 300);
  joiner.read(7, "COM7", "\r", 1, 301, 0);
  joiner.flush();
  joiner.wrote(7, 310);
  joiner.read(7, "COM7", "\n", 1, 311, 0);
  joiner.flush();
  joiner.polled(7, 0, 312);
  joiner.polled(7, 3, 320);
  joiner.read(7, "COM7", "OK\r", 3, 321, 0);
  joiner.flush();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_LT(lines[1].latencyMs, 0);
  EXPECT_DOUBLE_EQ(lines[2].latencyMs, 8);  // its first byte two characters before the poll saw three
  EXPECT_FALSE(lines[2].latencyAtMost);
  // An answer no look came near: the log knows only a bound.
  joiner.wrote(7, 400);
  joiner.polled(7, 0, 401);
  joiner.polled(7, 3, 500);
  joiner.read(7, "COM7", "OK\r", 3, 501, 0);
  joiner.flush();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_TRUE(lines[3].latencyAtMost);
  EXPECT_DOUBLE_EQ(lines[3].latencyMs, 98);
}

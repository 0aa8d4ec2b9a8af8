// The receive rules with exact segment boundaries: a scripted source plays
// what the socket would deliver, one receive per segment.
#include <gtest/gtest.h>

#include <deque>
#include <string>

#include "tcp/receive_buffer.h"

namespace {

using wl::kReceiveBufferSize;
using wl::kTimedOut;

// Segments arrive one per receive; "silence" makes one wait run out; after
// the script the source stays silent, or closed when `closeAtEnd`.
class ScriptedSource : public wl::ByteSource {
 public:
  std::deque<std::string> script;  // a segment, or kSilence, or kFail
  bool closeAtEnd = false;
  int receives = 0;
  int waits = 0;     // waits that could block
  int failWith = 57;
  static inline const std::string kSilence = "<silence>";
  static inline const std::string kFail = "<fail>";

  uint32_t clock = 0;     // milliseconds
  uint32_t waitTime = 0;  // what each wait that could block lets pass
  std::deque<uint32_t> waitTimes;  // what the next waits let pass, before waitTime

  uint32_t milliseconds() override { return clock; }
  int waitReadable(bool poll) override {
    if (!poll) {
      ++waits;
      clock += waitTimes.empty() ? waitTime : waitTimes.front();
      if (!waitTimes.empty()) waitTimes.pop_front();
    }
    if (script.empty()) return closeAtEnd ? 0 : kTimedOut;
    if (script.front() == kSilence || script.front() == kFail) {
      const bool silence = script.front() == kSilence;
      script.pop_front();
      return silence ? kTimedOut : failWith;
    }
    return 0;
  }
  int receive(char* buffer, size_t capacity, int&) override {
    ++receives;
    if (script.empty()) return 0;  // closed
    std::string& next = script.front();
    const size_t n = std::min(capacity, next.size());
    next.copy(buffer, n);
    next.erase(0, n);
    if (next.empty()) script.pop_front();
    return static_cast<int>(n);
  }
};

struct Received {
  int error;
  std::string text;
  bool end;
  wl::LineEnd lineEnd;
};

class Rules : public ::testing::Test {
 protected:
  Received bytes(size_t count) {
    Received r{};
    r.error = buffer.receive(source, count, r.text, r.end);
    return r;
  }
  Received line() {
    Received r{};
    r.error = buffer.receiveLine(source, r.text, r.end, r.lineEnd);
    return r;
  }
  wl::ReceiveBuffer buffer;
  ScriptedSource source;
};

using ByteReceive = Rules;
using LineReceive = Rules;
using Discard = Rules;

}  // namespace

TEST_F(ByteReceive, OneSegmentIsServedFromTheBufferWithTheFlagClear) {
  source.script = {"abcde"};
  std::string got;
  for (int i = 0; i < 5; ++i) {
    const Received r = bytes(1);
    EXPECT_EQ(r.error, 0);
    EXPECT_FALSE(r.end) << "byte " << i;
    got += r.text;
  }
  EXPECT_EQ(got, "abcde");
  EXPECT_EQ(source.receives, 1);
}

TEST_F(ByteReceive, ACountFilledFromOneSegmentEndsTheData) {
  source.script = {"abc", "def"};
  const Received r = bytes(3);
  EXPECT_EQ(r.text, "abc");
  EXPECT_TRUE(r.end);
  EXPECT_EQ(bytes(3).text, "def");
}

TEST_F(ByteReceive, SilenceAfterAFullBufferDeliversItAsTheEnd) {
  const std::string full(kReceiveBufferSize, 'a');
  source.script = {full, ScriptedSource::kSilence};
  const Received r = bytes(kReceiveBufferSize + 10);
  EXPECT_EQ(r.error, 0);
  EXPECT_EQ(r.text, full);
  EXPECT_TRUE(r.end);
}

TEST_F(ByteReceive, NothingArrivingIsATimeOut) {
  const Received r = bytes(1);
  EXPECT_EQ(r.error, kTimedOut);
  EXPECT_EQ(r.text, "");
  EXPECT_FALSE(r.end);
}

TEST_F(ByteReceive, ThePeerClosingEndsTheDataWithoutError) {
  source.closeAtEnd = true;
  for (int i = 0; i < 2; ++i) {
    const Received r = bytes(1);
    EXPECT_EQ(r.error, 0);
    EXPECT_EQ(r.text, "");
    EXPECT_TRUE(r.end);
  }
}

TEST_F(ByteReceive, AFailedWaitLosesWhatTheCallHadTaken) {
  source.script = {std::string(kReceiveBufferSize, 'a'), ScriptedSource::kFail};
  source.failWith = 70;
  const Received r = bytes(kReceiveBufferSize + 1);
  EXPECT_EQ(r.error, 70);
  EXPECT_EQ(r.text, "");
}

TEST_F(LineReceive, TwoLinesInOneSegment) {
  source.script = {"a\r\nb\r\n"};
  Received r = line();
  EXPECT_EQ(r.text, "a");
  EXPECT_FALSE(r.end);
  r = line();
  EXPECT_EQ(r.text, "b");
  EXPECT_TRUE(r.end);
  EXPECT_EQ(source.receives, 1);
}

TEST_F(LineReceive, CrLfSplitAcrossTwoSegments) {
  source.script = {"abc\r", "\ndef\r\n"};
  Received r = line();
  EXPECT_EQ(r.text, "abc");
  EXPECT_FALSE(r.end);
  r = line();
  EXPECT_EQ(r.text, "def");
  EXPECT_TRUE(r.end);
}

TEST_F(LineReceive, ALineEndingWithAFullBufferLeavesTheFlagClear) {
  const std::string full = std::string(kReceiveBufferSize - 1, 'x') + "\n";
  source.script = {full};
  const Received r = line();
  EXPECT_EQ(r.text.size(), kReceiveBufferSize - 1);
  EXPECT_FALSE(r.end);  // a full receive: more may be waiting
}

// Only stored bytes count towards a piece: CRs are dropped, and an end
// that follows the last byte a piece can hold keeps the line whole. A byte
// that is not the end stays unread and starts the next piece.
TEST_F(LineReceive, APieceHoldsStoredBytesAndTheEndAfterAFullPieceIsStillTheLine) {
  const std::string full(wl::kLinePieceBytes, 'x');
  source.script = {full, "\r\n"};
  Received r = line();
  EXPECT_EQ(r.error, 0);
  EXPECT_EQ(r.text, full);
  EXPECT_EQ(r.lineEnd, wl::LineEnd::Whole);
  EXPECT_TRUE(r.end);
  EXPECT_EQ(line().error, kTimedOut);  // no empty line the peer never sent

  std::string first(kReceiveBufferSize, 'x');
  first[10] = '\r';
  source.script = {first, "yz\r\n"};
  r = line();
  EXPECT_EQ(r.text, std::string(kReceiveBufferSize - 1, 'x') + "y");
  EXPECT_EQ(r.lineEnd, wl::LineEnd::Piece);
  EXPECT_FALSE(r.end);
  r = line();
  EXPECT_EQ(r.text, "z");
  EXPECT_EQ(r.lineEnd, wl::LineEnd::Whole);
  EXPECT_TRUE(r.end);
}

// The time bound of a piece counts from its first byte, so an answer that
// comes late (within the connection's time-out) is one line; a peer that
// trickles a line's bytes without ending it gets it handed over in pieces,
// with the flag clear, and the rest follows.
TEST_F(LineReceive, ThePieceTimeBoundStartsWithTheFirstByte) {
  source.waitTimes = {12000, 100};
  source.script = {"HEL", "LO\r\n"};
  Received late = line();
  EXPECT_EQ(late.text, "HELLO");
  EXPECT_EQ(late.lineEnd, wl::LineEnd::Whole);

  source.waitTime = 1000;
  for (int i = 0; i < 30; ++i) source.script.push_back(std::string(1, static_cast<char>('a' + i % 26)));
  source.script.push_back("\r\n");
  Received first = line();
  EXPECT_EQ(first.error, 0);
  EXPECT_FALSE(first.end);
  EXPECT_EQ(first.lineEnd, wl::LineEnd::Piece);
  EXPECT_EQ(first.text, "abcdefghijk");  // the first byte, then ten waits of a second
  Received rest = line();
  Received last = line();
  EXPECT_EQ(first.text + rest.text + last.text, "abcdefghijklmnopqrstuvwxyzabcd");
  EXPECT_EQ(last.lineEnd, wl::LineEnd::Whole);
}

TEST_F(LineReceive, APartialLineThenSilence) {
  source.script = {"ab", "c", ScriptedSource::kSilence, "d\n"};
  const Received r = line();
  EXPECT_EQ(r.error, 0);
  EXPECT_EQ(r.text, "abc");
  EXPECT_TRUE(r.end);
  EXPECT_EQ(line().text, "d");
}

TEST_F(LineReceive, NothingArrivingIsATimeOutAndKeepsTheGivenText) {
  std::string text = "kept";
  bool end = true;
  wl::LineEnd lineEnd;
  EXPECT_EQ(buffer.receiveLine(source, text, end, lineEnd), kTimedOut);
  EXPECT_EQ(text, "kept");
  EXPECT_FALSE(end);
}

TEST_F(LineReceive, CrBytesAloneThenSilenceIsATimeOut) {
  source.script = {"\r\r", ScriptedSource::kSilence};
  const Received r = line();
  EXPECT_EQ(r.error, kTimedOut);
  EXPECT_EQ(r.text, "");
}

TEST_F(LineReceive, ThePeerClosingMidLineDeliversIt) {
  source.script = {"one\ntw"};
  source.closeAtEnd = true;
  EXPECT_EQ(line().text, "one");
  Received r = line();
  EXPECT_EQ(r.error, 0);
  EXPECT_EQ(r.text, "tw");
  EXPECT_TRUE(r.end);
  r = line();
  EXPECT_EQ(r.text, "");
  EXPECT_TRUE(r.end);
}

TEST_F(LineReceive, ByteAndLineReceivesShareTheBuffer) {
  source.script = {"xline\r\n"};
  EXPECT_EQ(bytes(1).text, "x");
  const Received r = line();
  EXPECT_EQ(r.text, "line");
  EXPECT_TRUE(r.end);  // the short receive that brought it marks the end
}

TEST_F(Discard, DropsBufferedAndWaitingBytesWithoutWaiting) {
  source.script = {"a\nrest", "more", "more still"};
  EXPECT_EQ(line().text, "a");
  const int waitsBefore = source.waits;
  bool end = false;
  EXPECT_EQ(buffer.discard(source, end), 0);
  EXPECT_TRUE(end);
  EXPECT_EQ(buffer.unread(), 0u);
  EXPECT_TRUE(source.script.empty());
  EXPECT_EQ(source.waits, waitsBefore);
  source.script = {"next\n"};
  EXPECT_EQ(line().text, "next");
}

TEST_F(Discard, AFloodingPeerCannotHoldIt) {
  class Flood : public wl::ByteSource {
   public:
    int waitReadable(bool) override { return 0; }
    int receive(char*, size_t capacity, int&) override { return static_cast<int>(capacity); }
  } flood;
  bool end = true;
  EXPECT_EQ(buffer.discard(flood, end), 0);
  EXPECT_FALSE(end);
}

TEST_F(Discard, AFailedPollIsReported) {
  source.script = {ScriptedSource::kFail};
  bool end = true;
  EXPECT_EQ(buffer.discard(source, end), 57);
  EXPECT_FALSE(end);
}

// What wlTCPrxF does with one line receive at a time: lines with CR LF in
// batches, until the end flag, a failure, or the stream limit after a line.
struct Batches {
  int error = 0;
  std::string text;
  bool end = false;
  int waits = 0, receives = 0;
};

constexpr size_t kBatch = 64 * 1024;

Batches LineByLine(std::deque<std::string> script, uint32_t waitTime) {
  wl::ReceiveBuffer buffer;
  ScriptedSource source;
  source.script = std::move(script);
  source.waitTime = waitTime;
  wl::Deadline stream(source, wl::kStreamLimitMilliseconds);
  Batches b;
  std::string batch;
  do {
    wl::LineEnd end = wl::LineEnd::Whole;
    b.error = buffer.receiveLine(source, batch, b.end, end, &stream);
    if (b.error != 0) break;
    if (end == wl::LineEnd::Whole) batch += "\r\n";
    if (batch.size() >= kBatch) b.text += batch, batch.clear();
  } while (!b.end && !stream.expired());
  b.text += batch;
  b.waits = source.waits;
  b.receives = source.receives;
  return b;
}

Batches InBatches(std::deque<std::string> script, uint32_t waitTime) {
  wl::ReceiveBuffer buffer;
  ScriptedSource source;
  source.script = std::move(script);
  source.waitTime = waitTime;
  wl::Deadline stream(source, wl::kStreamLimitMilliseconds);
  Batches b;
  std::string batch;
  batch.reserve(kBatch + wl::kLinePieceBytes + 2);
  do {
    b.error = buffer.receiveLines(source, batch, kBatch, b.end, stream);
    if (b.error != 0) break;
    if (batch.size() >= kBatch) b.text += batch, batch.clear();
  } while (!b.end && !stream.expired());
  b.text += batch;
  b.waits = source.waits;
  b.receives = source.receives;
  return b;
}

// Lines taken a block at a time give the same bytes, end flag, error and
// waits as lines taken one receive at a time: lines ending in CR LF, LF
// alone or stray CRs, empty lines, lines split across receives, a line of
// more than a piece, batches filled past their size, a short receive at a
// line end, a partial line then silence, a failed wait, and a peer that
// keeps every receive full stopped by the stream limit.
TEST(LineBatches, GiveWhatOneLineAtATimeGives) {
  const std::string line78 = std::string(78, 'x') + "\r\n";
  std::string manyLines;
  while (manyLines.size() + line78.size() <= kReceiveBufferSize) manyLines += line78;
  const std::string fullBuffer = manyLines + std::string(kReceiveBufferSize - manyLines.size(), 'y');
  const std::deque<std::string> scripts[] = {
      {"one\r\ntwo\r\n"},
      {"a\nb\r\n\r\n\nc\rd\r\n", "e\r", "\nf"},
      {"ab", "cd\r", "\n" + manyLines},
      {std::string(wl::kLinePieceBytes + 5, 'z'), "\r\nend\r\n"},
      {std::string(wl::kLinePieceBytes, 'z') + "\r", "\r\n"},
      {manyLines, manyLines, manyLines, "tail"},
      {manyLines, ScriptedSource::kSilence},
      {fullBuffer, "z\r\n", ScriptedSource::kFail},
      {manyLines, "half", ScriptedSource::kSilence, "next\r\n"},
  };
  for (const auto& script : scripts) {
    for (uint32_t waitTime : {0u, 400u}) {
      const Batches expected = LineByLine(script, waitTime);
      const Batches got = InBatches(script, waitTime);
      SCOPED_TRACE(script.front().substr(0, 20) + " wait " + std::to_string(waitTime));
      EXPECT_EQ(got.error, expected.error);
      EXPECT_TRUE(got.text == expected.text) << got.text.size() << " vs " << expected.text.size();
      EXPECT_EQ(got.end, expected.end);
      EXPECT_EQ(got.waits, expected.waits);
      EXPECT_EQ(got.receives, expected.receives);
    }
  }
  // Line ends at every place in a word of the scan.
  std::string mixed, lines;
  for (size_t n = 0; n < 12; ++n) {
    mixed += std::string(n, 'm') + (n % 2 ? "\n" : "\r\n");
    lines += std::string(n, 'm') + "\r\n";
  }
  EXPECT_EQ(InBatches({mixed}, 0).text, lines);
  EXPECT_EQ(LineByLine({mixed}, 0).text, lines);
  // Full receives for ever: both stop at the stream limit with the flag clear.
  const std::deque<std::string> flood(200, fullBuffer);
  const Batches expected = LineByLine(flood, 400);
  const Batches got = InBatches(flood, 400);
  EXPECT_FALSE(got.end);
  EXPECT_EQ(got.text, expected.text);
  EXPECT_EQ(got.waits, expected.waits);
  EXPECT_LT(got.waits, 200);
}

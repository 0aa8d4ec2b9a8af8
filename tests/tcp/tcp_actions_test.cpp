// The nine TCP actions through the real Wirelet.nbp, against peers on
// 127.0.0.1 that play scripted segments, pauses and closes.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>

#include "host/nbhost.h"
#include "scripted_peer.h"
#include "support/paths.h"

namespace {

using tcptest::ScriptedPeer;
using Clock = std::chrono::steady_clock;

// The bound of every wait a script makes for the plug-in.
constexpr int kDeadlineMs = 8000;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

struct Outcome {
  std::string value, err, eof;
};

// Each edition loaded once for the whole program; both keep their own
// connection, so they never disturb each other.
nbhost::PlugIn* HostFor(const std::string& file) {
  static std::map<std::string, std::unique_ptr<nbhost::PlugIn>> hosts;
  std::unique_ptr<nbhost::PlugIn>& host = hosts[file];
  if (!host) {
    host = std::make_unique<nbhost::PlugIn>();
    std::string error;
    if (!host->load(wltest::OutputFile(file), &error)) {
      ADD_FAILURE() << error;
      host.reset();
      return nullptr;
    }
    host->registerPlugIn();
  }
  return host.get();
}

// The TCP actions run by name, so the same cases prove both editions.
class Tcp : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    host = HostFor(GetParam());
    ASSERT_NE(host, nullptr);
  }
  void TearDown() override {
    if (host != nullptr) host->exec("wlTCPclose", "");
  }

  // Runs an action by name; the variables it set, in order.
  std::vector<std::string> run(const std::string& action, const std::string& parameter) {
    host->clearLog();
    host->variables().clear();
    EXPECT_EQ(host->exec(action, parameter), 1) << action;
    std::vector<std::string> names;
    for (const nbhost::VariableSet& v : host->variableLog()) names.push_back(v.name);
    return names;
  }
  std::string err(const std::string& action, const std::string& parameter) {
    run(action, parameter);
    return host->variable("wlTcpErr");
  }
  // A receive into the variable v, or into the file named by `parameter`.
  Outcome receive(const std::string& action, const std::string& parameter = "v") {
    run(action, parameter);
    return {host->variable("v"), host->variable("wlTcpErr"), host->variable("wlTcpEof")};
  }
  // A scratch folder per test and edition ("Name/1" becomes "Name-1").
  std::string scratch(const std::string& file) {
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    for (char& c : name) {
      if (c == '/') c = '-';
    }
    return wltest::ScratchDir(name) + "/" + file;
  }

  nbhost::PlugIn* host = nullptr;
};

using TcpOpen = Tcp;
using TcpSend = Tcp;
using TcpRxByte = Tcp;
using TcpRxLine = Tcp;
using TcpWait = Tcp;
using TcpRxF = Tcp;
using TcpRxFT = Tcp;
using TcpRxFlush = Tcp;
using TcpFlood = Tcp;

// Sends `lines` once cued, then stays connected and silent until the test ends.
ScriptedPeer::Script SendOnCue(const std::string& bytes) {
  return [bytes](ScriptedPeer& p) {
    if (!p.awaitCue(kDeadlineMs)) return;
    p.send(bytes);
    p.signal();
    p.awaitCue(kDeadlineMs);
  };
}

}  // namespace

TEST_P(TcpOpen, ASecondOpenGives55AndTheFirstConnectionKeepsWorking) {
  ScriptedPeer peer([](ScriptedPeer& p) {
    if (p.receive(7, kDeadlineMs) == "hello\r\n") p.send("ok\r\n");
    p.awaitCue(kDeadlineMs);
  });
  ScriptedPeer other([](ScriptedPeer&) {});
  EXPECT_EQ(err("wlTCPopen", peer.openText(2000)), " 0");
  EXPECT_EQ(err("wlTCPopen", other.openText(2000)), " 55");
  EXPECT_EQ(err("wlTCPsendCRLF", "hello"), " 0");
  EXPECT_EQ(receive("wlTCPrxline").value, "ok");
  peer.cue();
}

TEST_P(TcpOpen, RefusedPortAndUnresolvableNameGive57AndLeaveNothingOpen) {
  EXPECT_EQ(err("wlTCPopen", "127.0.0.1," + std::to_string(tcptest::UnusedPort()) + ",1000"), " 57");
  // A label too long for any name lookup fails without asking a name server.
  EXPECT_EQ(err("wlTCPopen", std::string(200, 'q') + ",80,1000"), " 57");
  EXPECT_EQ(err("wlTCPsend", "x"), " 52");
  ScriptedPeer peer([](ScriptedPeer& p) { p.send("up\n"); });
  EXPECT_EQ(err("wlTCPopen", peer.openText(2000)), " 0");
  EXPECT_EQ(receive("wlTCPrxline").value, "up");
}

// A server that never answers the connect (its listener's queue is full, so
// the SYN is dropped) holds the open for its time-out only: 24, nothing
// open, and the next open works.
TEST_P(TcpOpen, AConnectWithoutAnswerGives24AfterItsTimeOut) {
  tcptest::FullListener listener;
  ASSERT_TRUE(listener.full()) << "every connect to a listener that never accepts was answered";
  const auto start = Clock::now();
  EXPECT_EQ(err("wlTCPopen", "127.0.0.1," + std::to_string(listener.port()) + ",500"), " 24");
  EXPECT_LT(SecondsSince(start), 3.0) << "the time-out of 0.5 s did not end the connect";
  EXPECT_EQ(err("wlTCPsend", "x"), " 52");
  ScriptedPeer peer([](ScriptedPeer& p) { p.send("up\n"); });
  EXPECT_EQ(err("wlTCPopen", peer.openText(2000)), " 0");
  EXPECT_EQ(receive("wlTCPrxline").value, "up");
}

TEST_P(TcpOpen, OnlyThreeFieldsOpenAndTheHostMayBeQuoted) {
  ScriptedPeer peer([](ScriptedPeer& p) { p.send("in\n"); });
  EXPECT_TRUE(run("wlTCPopen", "127.0.0.1," + std::to_string(peer.port())).empty());
  EXPECT_TRUE(run("wlTCPopen", peer.openText(100) + ",4").empty());
  // The port is taken from its low 16 bits.
  const std::string text = " \"127.0.0.1\" , " + std::to_string(peer.port() + 65536) + " , 2000";
  EXPECT_EQ(run("wlTCPopen", text), std::vector<std::string>{"wlTcpErr"});
  EXPECT_EQ(host->variable("wlTcpErr"), " 0");
  EXPECT_EQ(receive("wlTCPrxline").value, "in");
}

TEST_P(TcpOpen, CloseTwiceGivesZeroBothTimesAndThePeerSeesTheClose) {
  ScriptedPeer peer([](ScriptedPeer& p) {
    if (p.clientClosed(kDeadlineMs)) p.signal();
  });
  EXPECT_EQ(err("wlTCPopen", peer.openText(1000)), " 0");
  EXPECT_EQ(run("wlTCPclose", "anything"), std::vector<std::string>{"wlTcpErr"});
  EXPECT_EQ(host->variable("wlTcpErr"), " 0");
  EXPECT_EQ(err("wlTCPclose", ""), " 0");
  EXPECT_TRUE(peer.awaitSignal(kDeadlineMs));
}

TEST_P(TcpSend, TextGoesByteForByteAndCrLfIsAppended) {
  const std::string expected = "a,b \"q\" , x\x01\xff\r\nline\r\n";
  std::string got;
  ScriptedPeer peer([&](ScriptedPeer& p) { got = p.receive(expected.size(), kDeadlineMs); });
  ASSERT_EQ(err("wlTCPopen", peer.openText(2000)), " 0");
  EXPECT_EQ(err("wlTCPsend", "a,b"), " 0");
  EXPECT_EQ(err("wlTCPsend", " \"q\" , x\x01\xff"), " 0");
  EXPECT_EQ(err("wlTCPsendCRLF", ""), " 0");
  EXPECT_EQ(err("wlTCPsendCRLF", "line"), " 0");
  ASSERT_TRUE(peer.finished(kDeadlineMs));
  EXPECT_EQ(got, expected);
}

TEST_P(TcpSend, EveryActionWithoutAConnectionGives52) {
  EXPECT_EQ(err("wlTCPsend", "x"), " 52");
  EXPECT_EQ(err("wlTCPsendCRLF", "x"), " 52");
  for (const char* action : {"wlTCPrxbyte", "wlTCPrxline"}) {
    host->variables()["v"] = "stale";
    EXPECT_EQ(run(action, "v"), (std::vector<std::string>{"v", "wlTcpErr", "wlTcpEof"}));
    EXPECT_EQ(host->variable("v"), "");
    EXPECT_EQ(host->variable("wlTcpErr"), " 52");
    EXPECT_EQ(host->variable("wlTcpEof"), " 0");
  }
  EXPECT_EQ(run("wlTCPrxFlush", ""), (std::vector<std::string>{"wlTcpErr", "wlTcpEof"}));
  EXPECT_EQ(host->variable("wlTcpErr"), " 52");
  EXPECT_EQ(receive("wlTCPrxF", scratch("none.txt")).err, " 52");
  EXPECT_EQ(ReadFile(scratch("none.txt")), "");
}

TEST_P(TcpRxByte, BytesOfOneSegmentComeOneByOneWithTheFlagClear) {
  ScriptedPeer peer(SendOnCue("abcde"));
  ASSERT_EQ(err("wlTCPopen", peer.openText(2000)), " 0");
  peer.cue();
  std::string got;
  for (int i = 0; i < 5; ++i) {
    const Outcome o = receive("wlTCPrxbyte");
    EXPECT_EQ(o.err, " 0");
    EXPECT_EQ(o.eof, " 0") << "byte " << i;
    got += o.value;
  }
  EXPECT_EQ(got, "abcde");
  peer.cue();
}

TEST_P(TcpRxByte, NothingWithinTheTimeOutGives24AndThePeerClosingEndsTheData) {
  ScriptedPeer peer([](ScriptedPeer& p) {
    p.awaitCue(kDeadlineMs);
    p.send("z");
  });
  ASSERT_EQ(err("wlTCPopen", peer.openText(200)), " 0");
  Outcome o = receive("wlTCPrxbyte");
  EXPECT_EQ(o.value, "");
  EXPECT_EQ(o.err, " 24");
  EXPECT_EQ(o.eof, " 0");
  peer.cue();
  ASSERT_TRUE(peer.finished(kDeadlineMs));
  EXPECT_EQ(receive("wlTCPrxbyte").value, "z");
  for (int i = 0; i < 2; ++i) {
    o = receive("wlTCPrxbyte");
    EXPECT_EQ(o.value, "");
    EXPECT_EQ(o.err, " 0");
    EXPECT_EQ(o.eof, "-1");
  }
}

TEST_P(TcpRxLine, ABurstOfTwoLinesEndsTheDataAtTheSecond) {
  ScriptedPeer peer(SendOnCue("one\r\ntwo\r\n"));
  ASSERT_EQ(err("wlTCPopen", peer.openText(2000)), " 0");
  peer.cue();
  EXPECT_EQ(run("wlTCPrxline", "v"), (std::vector<std::string>{"v", "wlTcpErr", "wlTcpEof"}));
  EXPECT_EQ(host->variable("v"), "one");
  EXPECT_EQ(host->variable("wlTcpEof"), " 0");
  const Outcome o = receive("wlTCPrxline");
  EXPECT_EQ(o.value, "two");
  EXPECT_EQ(o.err, " 0");
  EXPECT_EQ(o.eof, "-1");
  peer.cue();
}

TEST_P(TcpRxLine, CrLfSplitAcrossSegmentsAndALineLongerThanTheBuffer) {
  const std::string longLine(70000, 'x');
  ScriptedPeer peer([&](ScriptedPeer& p) {
    p.send("abc\r");
    p.pause(300);
    p.send("\ndef\r\n" + longLine + "\r\n");
    p.awaitCue(kDeadlineMs);
  });
  ASSERT_EQ(err("wlTCPopen", peer.openText(2000)), " 0");
  EXPECT_EQ(receive("wlTCPrxline").value, "abc");
  EXPECT_EQ(receive("wlTCPrxline").value, "def");
  const Outcome first = receive("wlTCPrxline");
  EXPECT_EQ(first.value, std::string(65536, 'x'));
  EXPECT_EQ(first.eof, " 0");
  const Outcome rest = receive("wlTCPrxline");
  EXPECT_EQ(rest.value, std::string(70000 - 65536, 'x'));
  EXPECT_EQ(rest.err, " 0");
  peer.cue();
}

TEST_P(TcpRxLine, APartialLineThenSilenceAndThenThePeerClosing) {
  ScriptedPeer peer([](ScriptedPeer& p) {
    p.send("abc");
    p.awaitCue(kDeadlineMs);
    p.send("\r\r");
    p.awaitCue(kDeadlineMs);
  });
  ASSERT_EQ(err("wlTCPopen", peer.openText(300)), " 0");
  Outcome o = receive("wlTCPrxline");
  EXPECT_EQ(o.value, "abc");
  EXPECT_EQ(o.err, " 0");
  EXPECT_EQ(o.eof, "-1");
  o = receive("wlTCPrxline");
  EXPECT_EQ(o.value, "");
  EXPECT_EQ(o.err, " 24");
  EXPECT_EQ(o.eof, " 0");
  peer.cue();  // CR bytes alone make no line
  o = receive("wlTCPrxline");
  EXPECT_EQ(o.value, "");
  EXPECT_EQ(o.err, " 24");
  peer.cue();
  ASSERT_TRUE(peer.finished(kDeadlineMs));
  o = receive("wlTCPrxline");
  EXPECT_EQ(o.value, "");
  EXPECT_EQ(o.err, " 0");
  EXPECT_EQ(o.eof, "-1");
}

// 1,024 ms is 1 s exactly and 1,023 ms is 1.047552 s: the time-out counts
// in 1,024ths of a second. Only lower bounds are tight here.
TEST_P(TcpWait, TimeOutsCountInUnitsOf1024) {
  for (const int ms : {1024, 1023}) {
    ScriptedPeer peer([](ScriptedPeer& p) { p.awaitCue(kDeadlineMs); });
    ASSERT_EQ(err("wlTCPopen", peer.openText(ms)), " 0");
    const auto start = Clock::now();
    EXPECT_EQ(receive("wlTCPrxline").err, " 24");
    const double waited = SecondsSince(start);
    EXPECT_GE(waited, ms == 1024 ? 0.99 : 1.045) << ms;
    EXPECT_LT(waited, 6.0) << ms;
    peer.cue();
    EXPECT_EQ(err("wlTCPclose", ""), " 0");
  }
}

TEST_P(TcpRxF, ABurstReplacesTheFileWithCrLfLines) {
  const std::string file = scratch("lines.txt");
  WriteFile(file, "old content that is longer than what comes\r\n");
  ScriptedPeer peer(SendOnCue("one\r\ntwo\nthree\r\n"));
  ASSERT_EQ(err("wlTCPopen", peer.openText(2000)), " 0");
  peer.cue();
  ASSERT_TRUE(peer.awaitSignal(kDeadlineMs));
  EXPECT_EQ(run("wlTCPrxF", file), (std::vector<std::string>{"wlTcpErr", "wlTcpEof"}));
  EXPECT_EQ(host->variable("wlTcpErr"), " 0");
  EXPECT_EQ(host->variable("wlTcpEof"), "-1");
  EXPECT_EQ(ReadFile(file), "one\r\ntwo\r\nthree\r\n");
  peer.cue();
}

// Lines then silence: each call returns while the peer stays connected, and
// the files hold exactly the lines sent. A full buffer's worth of lines
// leaves the end flag clear, so silence ends the last call with 24, and that
// failed receive writes no line of its own. (Should the lines come in two
// receives, the first call ends at the flag and a second takes the rest.)
TEST_P(TcpRxF, LinesThenSilenceReturnWhileThePeerStaysConnected) {
  std::string burst;
  for (int i = 0; i < 1024; ++i) {
    std::string line = "line " + std::to_string(i) + " ";
    burst += line + std::string(62 - line.size(), '.') + "\r\n";
  }
  ASSERT_EQ(burst.size(), 65536u);
  const std::string file = scratch("burst.txt");
  ScriptedPeer peer(SendOnCue(burst));
  ASSERT_EQ(err("wlTCPopen", peer.openText(300)), " 0");
  peer.cue();
  ASSERT_TRUE(peer.awaitSignal(kDeadlineMs));
  std::string written;
  Outcome o;
  for (int call = 0; call < 4 && o.err != " 24"; ++call) {
    const auto start = Clock::now();
    o = receive("wlTCPrxF", file);
    EXPECT_LT(SecondsSince(start), 5.0);
    written += ReadFile(file);
  }
  EXPECT_FALSE(peer.finished(0));
  EXPECT_EQ(o.err, " 24");
  EXPECT_EQ(o.eof, " 0");
  EXPECT_TRUE(written == burst) << written.size() << " bytes written";
  // Silence from the start: nothing written, the file emptied.
  EXPECT_EQ(receive("wlTCPrxF", file).err, " 24");
  EXPECT_EQ(ReadFile(file), "");
  peer.cue();
}

TEST_P(TcpRxF, AFileThatCannotBeOpenedLeavesTheDataInTheConnection) {
  ScriptedPeer peer(SendOnCue("keep\r\n"));
  ASSERT_EQ(err("wlTCPopen", peer.openText(300)), " 0");
  peer.cue();
  ASSERT_TRUE(peer.awaitSignal(kDeadlineMs));
  const std::string held = scratch("held.txt");
  HANDLE holder = CreateFileA(held.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  const std::pair<std::string, const char*> cases[] = {
      {"", " 64"}, {scratch("a*b.txt"), " 64"}, {scratch("no folder") + "/x.txt", " 76"},
      {held, " 70"}};
  for (const auto& [name, expected] : cases) {
    EXPECT_EQ(receive("wlTCPrxF", name).err, expected) << name;
    EXPECT_EQ(receive("wlTCPrxFT", name).err, expected) << name;
  }
  CloseHandle(holder);
  EXPECT_EQ(receive("wlTCPrxline").value, "keep");
  peer.cue();
}

TEST_P(TcpRxFT, EachCallAppendsOneLine) {
  const std::string file = scratch("append.txt");
  WriteFile(file, "head\r\n");
  ScriptedPeer peer(SendOnCue("one\r\ntwo\n"));
  ASSERT_EQ(err("wlTCPopen", peer.openText(300)), " 0");
  peer.cue();
  Outcome o = receive("wlTCPrxFT", file);
  EXPECT_EQ(o.err, " 0");
  EXPECT_EQ(o.eof, " 0");
  o = receive("wlTCPrxFT", file);
  EXPECT_EQ(o.eof, "-1");
  EXPECT_EQ(ReadFile(file), "head\r\none\r\ntwo\r\n");
  // A receive that times out still appends an empty line.
  EXPECT_EQ(receive("wlTCPrxFT", file).err, " 24");
  EXPECT_EQ(ReadFile(file), "head\r\none\r\ntwo\r\n\r\n");
  peer.cue();
}

TEST_P(TcpRxFlush, DiscardsWhatIsWaitingAndReturnsWithoutALimitOnWaits) {
  ScriptedPeer peer([](ScriptedPeer& p) {
    p.send("first\r\n" + std::string(100000, '#'));
    p.awaitCue(kDeadlineMs);
    p.send("after\r\n");
    p.awaitCue(kDeadlineMs);
  });
  ASSERT_EQ(err("wlTCPopen", peer.openText(0)), " 0");  // waits never end by themselves
  EXPECT_EQ(receive("wlTCPrxline").value, "first");
  for (int i = 0; i < 2; ++i) {  // the second finds nothing at all
    const auto start = Clock::now();
    EXPECT_EQ(run("wlTCPrxFlush", "ignored"), (std::vector<std::string>{"wlTcpErr", "wlTcpEof"}));
    EXPECT_LT(SecondsSince(start), 5.0);
    EXPECT_EQ(host->variable("wlTcpErr"), " 0");
    EXPECT_EQ(host->variable("wlTcpEof"), "-1");
  }
  EXPECT_FALSE(peer.finished(0));
  peer.cue();
  EXPECT_EQ(receive("wlTCPrxline").value, "after");
  peer.cue();
}

// Line n of a flood: six digits (n modulo a million) and an LF; the file
// gets them with CR LF. Short lines keep the receiving side busy, so the
// server stays ahead of it.
std::string FloodLine(long n) {
  char text[16];
  std::snprintf(text, sizeof text, "%06ld\n", n % 1000000);
  return text;
}

// Whether `text` is flood lines `next`, `next` + 1, ... each ended by CR LF,
// in order; `next` moves past them.
bool ConsecutiveLines(const std::string& text, long& next) {
  if (text.size() % 8 != 0) return false;
  for (size_t at = 0; at < text.size(); at += 8, ++next) {
    if (text.compare(at, 8, FloodLine(next).substr(0, 6) + "\r\n") != 0) return false;
  }
  return true;
}

// A server that floods the connection: the receive to a file returns while
// it still sends (at the end flag, or at its time limit where the flag never
// comes), and every line sent arrives once and in order across the calls
// that take them.
TEST_P(TcpFlood, ReceivesEndWhileTheServerKeepsSendingAndNothingIsLost) {
  std::atomic<long> linesSent{0};
  ScriptedPeer peer([&](ScriptedPeer& p) {
    std::string block;
    for (long n = 0; !p.awaitCue(0);) {  // without pause until cued, then close
      block.clear();
      for (int i = 0; i < 32768; ++i) block += FloodLine(n++);
      if (!p.send(block)) return;
      linesSent = n;
      if (n == 32768) p.signal();  // the connection holds more than one receive
    }
  });
  ASSERT_EQ(err("wlTCPopen", peer.openText(2048)), " 0");
  ASSERT_TRUE(peer.awaitSignal(kDeadlineMs));
  const std::string file = scratch("flood.txt");
  Outcome o = receive("wlTCPrxF", file);
  EXPECT_EQ(o.err, " 0");
  EXPECT_FALSE(peer.finished(0));
  long next = 0;
  EXPECT_TRUE(ConsecutiveLines(ReadFile(file), next));
  EXPECT_GT(next, 0);
  o = receive("wlTCPrxline");
  EXPECT_EQ(o.value, FloodLine(next++).substr(0, 6));
  peer.cue();
  // The rest, up to the server's close: once all is taken, a receive finds
  // only the close and writes the one empty line it got.
  std::string got;
  for (int call = 0; call < 100 && got != "\r\n"; ++call) {
    o = receive("wlTCPrxF", file);
    got = ReadFile(file);
    if (got != "\r\n") {
      EXPECT_TRUE(ConsecutiveLines(got, next)) << "call " << call;
    }
  }
  EXPECT_TRUE(peer.finished(0));
  EXPECT_EQ(o.eof, "-1");
  EXPECT_EQ(next, linesSent.load());
}

// A server that stops reading ends a send with 24 after the connection's
// time-out, the bytes it took kept in order; one that reads slowly but
// steadily gets every byte.
TEST_P(TcpFlood, ASendEndsWhenTheServerStopsReadingAndNotWhileItReads) {
  std::string data(8 << 20, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>('A' + i % 23);
  std::string got;
  {
    ScriptedPeer peer([&](ScriptedPeer& p) {
      p.awaitCue(120000);  // reads nothing until the send has given up
      got = p.receive(data.size(), 3000);
    });
    ASSERT_EQ(err("wlTCPopen", peer.openText(1024)), " 0");
    EXPECT_EQ(err("wlTCPsend", data), " 24");
    peer.cue();
    EXPECT_TRUE(peer.finished(kDeadlineMs));
  }
  EXPECT_GT(got.size(), 0u);
  EXPECT_LT(got.size(), data.size());
  EXPECT_TRUE(data.compare(0, got.size(), got) == 0);
  EXPECT_EQ(err("wlTCPclose", ""), " 0");

  const size_t total = 2 << 20;
  got.clear();
  ScriptedPeer slow([&](ScriptedPeer& p) {
    while (got.size() < total) {
      const std::string piece = p.receive(std::min<size_t>(total - got.size(), 65536), 5000);
      if (piece.empty()) return;
      got += piece;
      p.pause(20);
    }
  });
  ASSERT_EQ(err("wlTCPopen", slow.openText(2048)), " 0");
  EXPECT_EQ(err("wlTCPsend", data.substr(0, total)), " 0");
  EXPECT_TRUE(slow.finished(kDeadlineMs * 4));
  EXPECT_TRUE(got == data.substr(0, total)) << got.size() << " bytes arrived";
}

#define WL_BOTH_EDITIONS(suite) \
  INSTANTIATE_TEST_SUITE_P(Editions, suite, ::testing::Values("Wirelet.nbp", "Quillport.nbp"))
WL_BOTH_EDITIONS(TcpOpen);
WL_BOTH_EDITIONS(TcpSend);
WL_BOTH_EDITIONS(TcpRxByte);
WL_BOTH_EDITIONS(TcpRxLine);
WL_BOTH_EDITIONS(TcpWait);
WL_BOTH_EDITIONS(TcpRxF);
WL_BOTH_EDITIONS(TcpRxFT);
WL_BOTH_EDITIONS(TcpRxFlush);
WL_BOTH_EDITIONS(TcpFlood);

// The simulated Windows port on a clock of the test's own: what Windows
// does and Wine does not (inherited time-outs of other programs, a total
// write time-out shorter than the line, flow control holding a write,
// abort-on-error, a removed adapter).
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "wire/windows_port.h"

namespace {

using nbport::kMaxDword;
using nbport::kNever;
using nbport::Millis;

class TestClock : public nbport::PortClock {
 public:
  Millis now() override { return t; }
  bool waitUntil(Millis at) override {
    if (at == kNever) return false;
    t = std::max(t, at);
    return true;
  }
  Millis t = 1000;
};

// Bytes that arrive at given times; CTS raised at `ctsAt`.
class TestEnd : public nbport::PortEnd {
 public:
  void update(Millis now) override {
    while (!arrivals.empty() && arrivals.begin()->first <= now) {
      queue += arrivals.begin()->second;
      arrivals.erase(arrivals.begin());
    }
    if (now >= ctsAt) lines.cts = true;
  }
  size_t waiting() override { return queue.size(); }
  std::string take(size_t most) override {
    std::string bytes = queue.substr(0, most);
    queue.erase(0, bytes.size());
    return bytes;
  }
  Millis nextChange() override {
    const Millis next = arrivals.empty() ? kNever : arrivals.begin()->first;
    return std::min(next, lines.cts ? kNever : ctsAt);
  }
  nbport::ModemLines modem() override { return lines; }
  size_t room() override { return static_cast<size_t>(-1); }

  std::multimap<Millis, std::string> arrivals;
  std::string queue;
  nbport::ModemLines lines;
  Millis ctsAt = kNever;
};

struct Read {
  std::string bytes;
  Millis tookMs;
  bool forever;
};

// A read of `count` under `t` from a device that has "ab" waiting (when
// `waiting`) and sends "c" 300 ms into the read and "d" 900 ms into it.
Read ReadUnder(nbport::Timeouts t, uint32_t count, bool waiting = false) {
  nbport::WindowsPort port;
  TestClock clock;
  TestEnd end;
  if (waiting) end.queue = "ab";
  end.arrivals = {{clock.t + 300, "c"}, {clock.t + 900, "d"}};
  EXPECT_EQ(port.open(), 0u);
  const nbport::ReadResult r = port.read(clock, end, t, count);
  EXPECT_EQ(r.error, 0u);
  return {r.bytes, clock.t - 1000, r.forever};
}

TEST(WindowsPortReads, WaitAsEachKindOfTimeoutsSays) {
  // {MAXDWORD,0,0}: at once with what is there.
  Read r = ReadUnder({kMaxDword, 0, 0}, 4, true);
  EXPECT_EQ(r.bytes, "ab");
  EXPECT_EQ(r.tookMs, 0u);
  r = ReadUnder({kMaxDword, 0, 0}, 4);
  EXPECT_EQ(r.bytes, "");
  EXPECT_EQ(r.tookMs, 0u);
  // {MAXDWORD,MAXDWORD,c}: at once with bytes waiting (Wine waits the whole
  // c), else the first byte to come, else c.
  r = ReadUnder({kMaxDword, kMaxDword, 5000}, 4, true);
  EXPECT_EQ(r.bytes, "ab");
  EXPECT_EQ(r.tookMs, 0u);
  r = ReadUnder({kMaxDword, kMaxDword, 5000}, 4);
  EXPECT_EQ(r.bytes, "c");
  EXPECT_EQ(r.tookMs, 300u);
  r = ReadUnder({kMaxDword, kMaxDword, 100}, 4);
  EXPECT_EQ(r.bytes, "");
  EXPECT_EQ(r.tookMs, 100u);
  // .NET's infinite ReadTimeout {MAXDWORD, MAXDWORD, MAXDWORD-1}: the
  // first byte, or 49 days.
  r = ReadUnder({kMaxDword, kMaxDword, kMaxDword - 1}, 4);
  EXPECT_EQ(r.bytes, "c");
  EXPECT_EQ(r.tookMs, 300u);
  // {MAXDWORD,x,MAXDWORD}: no timer at all, every byte.
  r = ReadUnder({kMaxDword, 10, kMaxDword}, 4, true);
  EXPECT_EQ(r.bytes, "abcd");
  EXPECT_EQ(r.tookMs, 900u);
  r = ReadUnder({kMaxDword, 10, kMaxDword}, 5, true);
  EXPECT_TRUE(r.forever);
  // All 0: every byte, however long; for ever when they never come.
  r = ReadUnder({0, 0, 0}, 2);
  EXPECT_EQ(r.bytes, "cd");
  EXPECT_EQ(r.tookMs, 900u);
  EXPECT_FALSE(r.forever);
  r = ReadUnder({0, 0, 0}, 3);
  EXPECT_EQ(r.bytes, "cd");
  EXPECT_TRUE(r.forever);
  // A total: multiplier x count + constant.
  r = ReadUnder({0, 100, 200}, 3);
  EXPECT_EQ(r.bytes, "c");
  EXPECT_EQ(r.tookMs, 500u);
  // An interval counts from the first byte: 600 ms between c and d is too long.
  r = ReadUnder({500, 0, 0}, 3);
  EXPECT_EQ(r.bytes, "c");
  EXPECT_EQ(r.tookMs, 800u);
  r = ReadUnder({700, 0, 0}, 3);
  EXPECT_EQ(r.bytes, "cd");
  EXPECT_EQ(r.tookMs, 1600u);
}

TEST(WindowsPortTimeouts, AllThreeReadValuesMaxdwordAreRefused) {
  EXPECT_EQ(nbport::TimeoutsError({kMaxDword, kMaxDword, kMaxDword, 0, 0}), 87u);
  EXPECT_EQ(nbport::TimeoutsError({kMaxDword, kMaxDword, kMaxDword - 1, 0, 0}), 0u);
  EXPECT_EQ(nbport::TimeoutsError({kMaxDword, 0, kMaxDword, 0, kMaxDword}), 0u);
  EXPECT_EQ(nbport::TimeoutsError({}), 0u);
}

// 500 bytes at 1200 baud 8N1: 8.334 ms a byte (rounded up to the
// microsecond), 4,167 ms in all.
TEST(WindowsPortWrites, TakeTheLineTimeAndAShorterTotalTimeoutCutsThem) {
  nbport::WindowsPort port;
  TestClock clock;
  TestEnd end;
  nbport::Line line;
  line.baud = 1200;
  ASSERT_EQ(port.open(), 0u);
  nbport::WriteResult w = port.write(clock, end, line, {}, 500);
  EXPECT_EQ(w.written, 500u);
  EXPECT_EQ(clock.t - 1000, 4167u);
  EXPECT_FALSE(w.forever);
  // Quillport's 1 ms a byte + 500 ms: 1,000 ms hold 119 bytes; WriteFile
  // still succeeds, with fewer bytes written.
  const Millis start = clock.t = 10000;
  w = port.write(clock, end, line, {0, 0, 0, 1, 500}, 500);
  EXPECT_EQ(w.error, 0u);
  EXPECT_EQ(w.written, 119u);
  EXPECT_EQ(clock.t - start, 1000u);
  // A multiplier that covers the byte time sends everything.
  clock.t = 20000;
  w = port.write(clock, end, line, {0, 0, 0, 9, 500}, 500);
  EXPECT_EQ(w.written, 500u);
  // Back-to-back one-byte writes keep the line's pace: no rounding per write.
  line.baud = 9600;  // 1,042 us a byte
  clock.t = 30000;
  for (int k = 0; k < 96; ++k) port.write(clock, end, line, {}, 1);
  EXPECT_EQ(clock.t - 30000, 100u);  // 96 x 1.042 ms = 100.03 ms
}

TEST(WindowsPortWrites, FlowControlHoldsThemUntilReleasedOrTimedOut) {
  nbport::WindowsPort port;
  TestClock clock;
  TestEnd end;
  nbport::Line line;
  line.baud = 115200;
  line.ctsFlow = true;
  end.lines.cts = false;
  ASSERT_EQ(port.open(), 0u);
  // Held to the end of a total time-out: nothing goes, the call succeeds.
  nbport::WriteResult w = port.write(clock, end, line, {0, 0, 0, 10, 100}, 10);
  EXPECT_EQ(w.error, 0u);
  EXPECT_EQ(w.written, 0u);
  EXPECT_EQ(clock.t, 1200u);
  // pyserial's write_timeout=0 leaves a constant of MAXDWORD: 49 days.
  w = port.write(clock, end, line, {0, 0, 0, 0, kMaxDword}, 10);
  EXPECT_EQ(w.written, 0u);
  EXPECT_GT(clock.t, 4000000000u);
  // Without a time-out the write would wait for ever.
  clock.t = 5000000000u;
  w = port.write(clock, end, line, {}, 10);
  EXPECT_TRUE(w.forever);
  EXPECT_EQ(w.written, 0u);
  // CTS rises 300 ms in: the bytes go then.
  end.ctsAt = clock.t + 300;
  w = port.write(clock, end, line, {}, 10);
  EXPECT_EQ(w.written, 10u);
  EXPECT_EQ(clock.t, 5000000300u);  // and 10 x 87 us on the line
  // DSR flow likewise; without flow control a low line holds nothing.
  line.ctsFlow = false;
  end.lines.cts = false;
  end.ctsAt = kNever;
  EXPECT_EQ(port.write(clock, end, line, {0, 0, 0, 0, 100}, 10).written, 10u);
  line.dsrFlow = true;
  end.lines.dsr = false;
  EXPECT_EQ(port.write(clock, end, line, {0, 0, 0, 0, 100}, 10).written, 0u);
}

TEST(WindowsPortErrors, AbortOnErrorFailsTransfersUntilClearCommError) {
  nbport::WindowsPort port;
  nbport::Line line;
  ASSERT_EQ(port.open(), 0u);
  EXPECT_EQ(port.transferError(line, 0x0001), 0u);  // CE_RXOVER, no abort-on-error
  line.abortOnError = true;
  EXPECT_EQ(port.transferError(line, 0x0001), 995u);
  EXPECT_EQ(port.transferError(line, 0x0008), 995u);  // CE_FRAME
  EXPECT_EQ(port.transferError(line, 0), 0u);          // ClearCommError took them
}

// The host's lines: as the DCB says at the open and at each SetCommState,
// moved by EscapeCommFunction unless handshaking owns them, down once the
// handle is closed.
TEST(WindowsPortLines, TheHostsFollowTheDcbAndEscapesAndDropAtTheClose) {
  nbport::WindowsPort port;
  nbport::Line line;  // a fresh port: DTR and RTS enabled
  ASSERT_EQ(port.open(), 0u);
  port.setControl(line);
  EXPECT_TRUE(port.hostLines().dtr && port.hostLines().rts);
  EXPECT_EQ(port.escape(line, nbport::kClrDtr), 0u);
  EXPECT_FALSE(port.hostLines().dtr);
  EXPECT_TRUE(port.hostLines().rts);
  EXPECT_EQ(port.escape(line, nbport::kClrRts), 0u);
  EXPECT_EQ(port.escape(line, nbport::kSetDtr), 0u);
  EXPECT_TRUE(port.hostLines().dtr);
  EXPECT_FALSE(port.hostLines().rts);
  line.dtrControl = nbport::kControlHandshake;
  line.rtsControl = 3;  // RTS_CONTROL_TOGGLE: down between sends
  port.setControl(line);
  EXPECT_TRUE(port.hostLines().dtr);
  EXPECT_FALSE(port.hostLines().rts);
  EXPECT_EQ(port.escape(line, nbport::kClrDtr), 87u);  // handshaking owns DTR
  EXPECT_TRUE(port.hostLines().dtr);
  EXPECT_EQ(port.escape(line, nbport::kSetRts), 0u);
  EXPECT_TRUE(port.hostLines().rts);
  line.dtrControl = nbport::kControlDisable;
  port.setControl(line);
  EXPECT_FALSE(port.hostLines().dtr);
  port.setControl(nbport::Line());
  port.close();
  EXPECT_FALSE(port.hostLines().dtr || port.hostLines().rts);
  // The device's lines as GetCommModemStatus gives them.
  nbport::ModemLines lines;
  EXPECT_EQ(nbport::ModemStatusOf(lines), 0x30u);  // MS_CTS_ON | MS_DSR_ON
  lines = {false, false, true, true};
  EXPECT_EQ(nbport::ModemStatusOf(lines), 0xC0u);  // MS_RLSD_ON | MS_RING_ON
}

TEST(WindowsPortRemoval, AStaleHandleFailsAndMustBeClosedBeforeTheNameOpens) {
  nbport::WindowsPort port;
  TestClock clock;
  const nbport::Line line;
  ASSERT_EQ(port.open(), 0u);
  EXPECT_EQ(port.open(), 5u);  // one handle at a time
  port.unplug();
  EXPECT_EQ(port.handleError(), 22u);
  EXPECT_EQ(port.transferError(line, 0), 22u);
  EXPECT_EQ(port.open(), 2u);  // the name is gone
  port.plugIn();
  EXPECT_EQ(port.handleError(), 22u);  // the old handle never works again
  EXPECT_EQ(port.open(), 5u);          // the driver keeps the port for it
  port.close();
  ASSERT_EQ(port.open(), 0u);
  EXPECT_EQ(port.handleError(), 0u);
  // A code of the driver's choosing, and a removal during a read's wait:
  // the byte it took is lost with it.
  class Removing : public TestEnd {
   public:
    explicit Removing(nbport::WindowsPort& p) : port(p) {}
    void update(Millis now) override {
      if (now >= 1200) port.unplug(1617);
      TestEnd::update(now);
    }
    Millis nextChange() override { return std::min<Millis>(TestEnd::nextChange(), 1200); }
    nbport::WindowsPort& port;
  } removing(port);
  removing.arrivals = {{clock.t + 100, "x"}};
  const nbport::ReadResult r = port.read(clock, removing, {}, 5);
  EXPECT_EQ(r.error, 1617u);
  EXPECT_EQ(r.bytes, "");
  EXPECT_EQ(clock.t, 1200u);
  EXPECT_EQ(port.write(clock, removing, line, {}, 5).error, 1617u);
  port.close();
  EXPECT_EQ(port.open(), 2u);
}

}  // namespace

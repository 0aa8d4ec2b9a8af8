// Every bound that keeps a device or server from holding the host, named
// once, and the one deadline type every bounded wait counts with.
//
// A bound meant for a peer that never stops sending starts with the first
// byte of what it bounds, never when the action is called: the wait for
// that first byte is the action's own time-out (the idle time-out of a line
// receive, the port's time-outs, the connection's time-out), so a late
// answer loses nothing to a clock that ran while nothing came.
// Pure code: the clock is given, so tests run it by hand.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wl {

// A millisecond count that wraps after 49.7 days; differences stay right.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual uint32_t milliseconds() = 0;
};

// How long something may go on, counted from when it starts. Each call
// that answers a question about time reads the clock once.
class Deadline {
 public:
  Deadline(Clock& clock, uint32_t limitMilliseconds) : clock_(&clock), limit_(limitMilliseconds) {}

  // Starts the count now, unless it has started already.
  void start() {
    if (!started_) restart();
  }
  // Starts the count again now.
  void restart() {
    start_ = clock_->milliseconds();
    started_ = true;
  }
  // Forgets the start: the next start() starts the count anew.
  void stop() { started_ = false; }
  bool started() const { return started_; }
  // Milliseconds since the start; 0 before it.
  uint32_t elapsed() const { return started_ ? clock_->milliseconds() - start_ : 0; }
  // True once started and the limit has passed.
  bool expired() const { return started_ && elapsed() >= limit_; }
  // For a bound that starts with the first of several events (bytes taken
  // again and again): the first checkpoint starts the count, each later one
  // says whether the limit has passed since.
  bool checkpoint() {
    if (started_) return expired();
    restart();
    return false;
  }
  void setLimit(uint32_t milliseconds) { limit_ = milliseconds; }

 private:
  Clock* clock_;
  uint32_t limit_;
  uint32_t start_ = 0;
  bool started_ = false;
};

// A line receive hands over a line that does not end in pieces of at most
// this many stored bytes (bytes it drops, CR and LF, do not count); a line
// whose end follows its last stored byte is still one line. Serial and TCP.
constexpr size_t kLinePieceBytes = 65536;

// A serial line piece may take no longer than such a piece needs at the
// port's rate (LinePieceMilliseconds); a piece younger than this never asks
// the port for its rate.
constexpr uint32_t kLineRateCheckMilliseconds = 2000;

// A TCP line piece may take this long from its first byte.
constexpr uint32_t kTcpLinePieceMilliseconds = 10000;

// Loops that take bytes for as long as they keep coming (the receives to a
// file, a bounded serial read) end this long after their first byte.
constexpr uint32_t kStreamLimitMilliseconds = 10000;

// A serial flush discards for at most this long from its first byte.
constexpr uint32_t kFlushLimitMilliseconds = 1000;

// A serial read on a port whose time-outs would let it wait for ever gives
// up once the line has been quiet this long.
constexpr uint32_t kQuietLimitMilliseconds = 1000;

// A serial read or write whose port time-outs would let it wait longer than
// this (for its size) is treated as one that can wait without end: another
// program may have left MAXDWORD constants or waits of hours on the port.
constexpr uint32_t kLongestPortWaitMilliseconds = 30000;

// A line receive looks for more bytes this often while the line is quiet.
constexpr uint32_t kLinePollMilliseconds = 10;

// A serial write under endless port time-outs gets this long for the device
// to start taking bytes, plus their time on the line (WriteBoundMilliseconds).
constexpr uint32_t kWriteStartMilliseconds = 3000;

// One ReadFile asks for at most this many bytes; a larger read goes in pieces.
constexpr uint32_t kReadPieceBytes = 65536;

// One serial read returns at most this many bytes.
constexpr uint32_t kMostReadBytes = 16 * 1024 * 1024;

// A TCP flush discards at most this many receive buffers (16 MiB).
constexpr int kMostDiscardedBuffers = 256;

}  // namespace wl

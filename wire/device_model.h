// A simulated device at work: it hears the bytes the plug-in writes, cuts
// them into requests, answers as its device file says, and keeps what it
// sent in a receive queue from which the port serves reads.
//
// Time is the caller's: every call passes the current time in milliseconds
// and output falls due as that time passes, so the model never waits itself
// (the runner passes wall-clock time, tests a clock of their own).
// Pure code: no Windows here.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "device_file.h"
#include "pattern.h"

namespace nbdevice {

using Millis = uint64_t;
constexpr Millis kNever = ~Millis(0);

// The longest request a device hears: the bytes of a longer one are
// dropped up to its ending, and it is not answered.
constexpr size_t kLongestRequest = 65536;
// Without request endings a device keeps at most this much unheard input.
constexpr size_t kMostPending = 4096;
// A stream's output missed while nobody called is made up to this many times.
constexpr uint64_t kMostMissedRepeats = 1000;

// Cuts a byte stream into requests at the file's endings. Without endings
// it only keeps the bytes since the last request heard (see Device::hear).
class RequestCutter {
 public:
  explicit RequestCutter(std::vector<std::string> ends) : ends_(std::move(ends)) {}
  // Takes one byte; true when it completes a request (in `request`, without
  // its ending; empty and over-long requests are not reported).
  bool take(char byte, std::string& request);
  // The bytes since the last complete request (without endings, at most the
  // last kMostPending of them).
  const std::string& pending() const { return buffer_; }
  // How many bytes heard since the last clear no longer show in pending().
  size_t dropped() const { return dropped_; }
  void clear() {
    buffer_.clear();
    dropped_ = 0;
    tooLong_ = false;
  }

 private:
  std::vector<std::string> ends_;
  std::string buffer_;
  size_t dropped_ = 0;
  bool tooLong_ = false;  // the request under way is longer than kLongestRequest
};

class Device {
 public:
  explicit Device(const DeviceFile& file);

  // The port is opened: the receive queue and pending output are dropped
  // and the timed output starts again from `now`. Turns carry on: the
  // device does not know the port was closed.
  void open(Millis now);
  // The plug-in wrote `bytes` at `now`.
  void hear(const std::string& bytes, Millis now);
  // Moves the output due by `now` into the receive queue: at once, or, once
  // the port's byte time is set, a byte at a time as each has been on the
  // line, as a real port receives it. A close that falls due, after the
  // bytes before it, ends the connection (see closed).
  void advance(Millis now);
  // When the next byte of output, or the close, can be in the queue (kNever
  // when none will).
  Millis nextOutput() const;
  // The device ended the connection (a "close" in its file fell due): it
  // hears nothing and sends nothing more until it is opened again; what it
  // sent before stays in the receive queue.
  bool closed() const { return closed_; }
  // The device was pulled out of its port (an unplug in its file fell due,
  // after the bytes before it): it hears and sends nothing, its queue is
  // gone, until a plug in falls due. Timed statements keep their times, so
  // an "at 8000 plug in" comes whether or not the port is open; the next
  // open starts them again.
  bool unplugged() const { return unplugged_; }
  // The code calls on the removed port fail with; 0: the port's default.
  uint32_t removalError() const { return removalError_; }
  // How long one byte takes on the line, in microseconds (wire/port_model.h);
  // 0 delivers output the moment it is due.
  // A file that says line rate none keeps 0.
  void setByteTime(uint32_t microseconds) { byteUs_ = file_.paced ? microseconds : 0; }
  // The rate the port is set to (0: none, a server). A device that talks at
  // another rate (its file's baud) reads no request from the line, and each
  // byte it sends but CR and LF is received as another, from 0x80 up: the
  // garbage a port set to the wrong rate shows. Its line ends are kept, so a
  // dialogue reads garbled lines rather than one line that never ends.
  void setRate(uint32_t baud) { portBaud_ = baud; }

  // The receive queue: what the device sent and nobody read yet. Bytes that
  // do not fit are lost and reported once by takeOverflow. Taking costs the
  // bytes taken, however many wait behind them.
  size_t waiting() const { return queue_.size() - head_; }
  std::string take(size_t most);
  // The same bytes, left in the queue.
  std::string peek(size_t most) const { return queue_.substr(head_, most); }
  void setQueueSize(size_t bytes) { queueSize_ = bytes; }
  // Whether bytes were lost since the last takeOverflow (a line error).
  bool overflowed() const { return overflow_; }
  bool takeOverflow();

  // The line as the device drives it (its file's fault and modem pieces).
  // The faults played since the last take, one bit (1 << LineFault) each;
  // an open clears them, as it clears the overflow.
  uint32_t lineFaults() const { return faults_; }
  uint32_t takeLineFaults();
  // Its modem lines (kCtsLine ...): CTS and DSR on at first; they are the
  // device's, so they stay across opens.
  uint8_t modemLines() const { return modem_; }
  // The host's DTR and RTS as the port drives them now: a change answers
  // the file's on dtr / on rts rule for it (the first in the mode).
  void hostLines(bool dtr, bool rts, Millis now);
  // A reset fell due: the device closed (closed()) by resetting the
  // connection.
  bool wasReset() const { return reset_; }
  // What the device played on its line since the last take, for the log
  // ("framing error by line 7", "cts off by line 3").
  std::vector<std::string> takeLineNotes();

 private:
  // Rules that answer the same request: they take turns.
  struct Group {
    const Rule* first;
    std::unique_ptr<Pattern> pattern;     // for patterns
    std::unique_ptr<Pattern::Tail> tail;  // for patterns without request endings
    std::vector<const Rule*> members;
    size_t turn = 0;
  };
  struct Running {
    const Timed* timed;
    Millis next;
  };
  // Bytes falling due, or the end of the connection, or the device taken
  // from its port or put back (the piece says which).
  struct Output {
    std::string bytes;
    const Piece* piece;  // in file_
  };
  // Applies a close, unplug, plug in or line event that fell due at `at`.
  void happen(const Piece& piece, Millis at);
  void happenOnLine(const Piece& piece, Millis at);
  // Applies a restart due by `now` at once, whatever is under way.
  void restartIfDue(Millis now);
  // Answers a change of the host's line ("dtr off").
  void answerHostLine(const std::string& change, Millis now);

  // The group whose request `text` is, the first in the file; otherwise's
  // when none is. Its pattern's captures in `captures`.
  Group* find(const std::string& text, Captures& captures);
  // Whether the group's lines answer in the mode the device is in.
  bool inMode(const Group& group) const;
  // Without endings: takes the byte just heard and finds the first group
  // whose request the bytes heard since the last one end with.
  Group* findTail(unsigned char byte, Captures& captures);
  void answer(Group& group, const std::string& text, const Captures& captures, Millis now);
  void schedule(const Answer& answer, const std::string* text, const Captures* captures,
                size_t groups, Millis from);

  DeviceFile file_;
  RequestCutter cutter_;
  std::vector<Group> groups_;
  std::vector<Running> running_;
  std::multimap<Millis, Output> pending_;  // equal times keep their order
  std::string queue_;  // waiting bytes from head_ on
  size_t head_ = 0;
  std::string mode_;  // the mode the device is in
  bool atOtherRate() const { return file_.baud != 0 && portBaud_ != 0 && portBaud_ != file_.baud; }

  uint32_t byteUs_ = 0;
  uint32_t portBaud_ = 0;
  uint64_t lineFreeUs_ = 0;  // when the line has sent what it was given
  size_t queueSize_ = 4096;
  bool overflow_ = false;
  bool closed_ = false;
  bool unplugged_ = false;
  uint32_t removalError_ = 0;
  uint32_t faults_ = 0;
  uint8_t modem_ = kCtsLine | kDsrLine;
  bool hostDtr_ = false, hostRts_ = false;  // low while no port drives them
  bool reset_ = false;
  std::vector<std::string> lineNotes_;
};

}  // namespace nbdevice

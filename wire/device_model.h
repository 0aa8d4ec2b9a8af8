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
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "device_file.h"
#include "pattern.h"
#include "wire/device_values.h"

namespace nbdevice {

using Millis = uint64_t;
constexpr Millis kNever = ~Millis(0);

// The longest request a device hears: the bytes of a longer one are
// dropped up to its ending, and it is not answered.
constexpr size_t kLongestRequest = 65536;
// Without request endings a device keeps at most this much unheard input.
constexpr size_t kMostPending = 4096;
// A request framed by silence ends after the line has been quiet this long
// at least (3.5 characters' time otherwise, as Modbus RTU frames end).
constexpr uint32_t kShortestGapUs = 2000;

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

// Something the device did that a log must not pass off as the device's
// own behaviour: the seed of its random choices (the first note after each
// open) and each fault it played ("cut after 4 of 18 bytes by line 12").
struct DeviceNote {
  Millis at;
  std::string text;
};

class Device {
 public:
  // The random choices start from the file's seed here, once: opens do not
  // start them again, so a run repeats as a whole.
  explicit Device(const DeviceFile& file);

  // The port is opened: the receive queue and pending output are dropped
  // and the timed output starts again from `now`. Turns, values and tables
  // carry on: the device does not know the port was closed.
  void open(Millis now);
  // The plug-in wrote `bytes` at `now`.
  void hear(const std::string& bytes, Millis now);
  // Moves the output due by `now` into the receive queue: at once, or, once
  // the port's byte time is set, a byte at a time as each has been on the
  // line, as a real port receives it. A close that falls due, after the
  // bytes before it, ends the connection (see closed).
  //
  // Answers leave in the order their requests came, each its first wait
  // after its request or after the end of the answer before it, whichever
  // is later (answers out of order: after its request alone). Whatever goes
  // out holds the line to its end: an answer's pieces, a stream's line and
  // a noise byte never mix; what falls due meanwhile waits for the line.
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
  // A file that says line rate none keeps 0 for its output; the silence
  // that ends a request (requests end gap) is the port's all the same.
  void setByteTime(uint32_t microseconds) {
    charUs_ = microseconds;
    byteUs_ = file_.paced ? microseconds : 0;
  }
  // The rate the port is set to (0: none, a server). A device that talks at
  // another rate (its file's baud) reads no request from the line, and each
  // byte it sends but CR and LF is received as another, from 0x80 up: the
  // garbage a port set to the wrong rate shows. Its line ends are kept, so a
  // dialogue reads garbled lines rather than one line that never ends.
  void setRate(uint32_t baud) { portBaud_ = baud; }
  // The time of day templates give ({time hhmmss.ss}, {date ddmmyy}): at
  // `now` on the device's clock it is `utcMs` milliseconds after 1970-01-01
  // 00:00 UTC. Until it is set the device's clock starts there.
  void setTimeOfDay(Millis now, int64_t utcMs) {
    utcAt_ = now;
    utcMs_ = utcMs;
  }
  // On (a played server, whose sends TCP's window holds up): output that
  // does not fit the queue waits in the device, and what comes after it
  // waits behind it, instead of being lost.
  void setBackpressure(bool on) { backpressure_ = on; }

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
  // The notes since the last call, oldest first.
  std::vector<DeviceNote> takeNotes();

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
    Millis next;           // the next occurrence; kNever: none (once, or not in its mode)
    bool waiting = false;  // an occurrence of it waits for the line
  };
  // One piece made: its bytes, or the piece's close, unplug or plug in.
  struct Output {
    uint32_t waitMs;  // after the piece before it
    std::string bytes;
    const Piece* piece;  // in file_
  };
  // An answer, a stream's occurrence or a noise byte, made and waiting for
  // the line (or holding it).
  struct Job {
    enum Kind : uint8_t { Answer, Stream, Noise } kind = Answer;
    Millis base = 0;  // its request, or when it fell due
    std::vector<Output> outputs;
    std::vector<std::string> notes;  // said when it starts
    size_t stream = 0;               // a stream's: its place in running_
  };
  // Jobs waiting for the line, by when they may start: streams at the same
  // time in file order first, then the rest in the order they were made.
  using JobKey = std::tuple<Millis, int, uint64_t>;

  Group* find(const std::string& text, Captures& captures, Group* after);
  bool inMode(const Group& group) const;
  Group* findTail(unsigned char byte, Captures& captures);
  // A request heard whole at `now`: checked, and answered by the first line
  // whose answer can be made.
  void heard(std::string request, Millis now);
  bool answer(Group& group, const std::string& text, const Captures& captures, Millis now);
  void enter(const std::string& mode, Millis now);
  // The answer's pieces with their templates filled in (false when one
  // cannot be made), its faults played.
  bool make(const Answer& answer, const Delivery& delivery, const Making& making, Job& job);
  // What a set changed, to put back when its answer cannot be made.
  struct Undo {
    std::string name;
    bool entry;
    size_t index;
    bool had;
    std::string value;
    int64_t number;
  };
  Making makingAt(Millis at);  // what a template made at `at` reads
  bool applySets(const Delivery& delivery, const Making& making, std::vector<Undo>& undo);
  bool makePieces(const Answer& answer, const Delivery& delivery, const Making& making, Job& job);
  void playFaults(const std::vector<Fault>& faults, Job& job);
  uint32_t draw(uint32_t least, uint32_t most) { return random_.between(least, most); }

  // advance's steps: requests framed by silence, occurrences that fell due,
  // the job on the line, the next job.
  void endGapFrame(Millis now);
  void makeOccurrences(Millis now);
  void makeOccurrence(size_t stream, Millis now, bool full);
  void makeNoise(Millis now, bool full);
  bool progress(Millis now);
  bool startNext(Millis now);
  void queue(Job job, Millis ready, int rank, uint64_t order);
  bool answerOut() const;  // an answer holds the line or waits for it
  void promote();
  Millis gapEnd() const;
  bool stalled() const { return backpressure_ && waiting() >= queueSize_; }
  // Applies a close, unplug, plug in or line event that fell due at `at`.
  void happen(const Piece& piece, Millis at);
  void happenOnLine(const Piece& piece, Millis at);
  // Applies at once a restart that starts an answer due by `now`, whatever
  // is under way (an answer in order would wait for those before it).
  void restartIfDue(Millis now);
  // Answers a change of the host's line ("dtr off").
  void answerHostLine(const std::string& change, Millis now);
  void note(Millis at, const std::string& text) { notes_.push_back({at, text}); }

  DeviceFile file_;
  RequestCutter cutter_;
  std::vector<Group> groups_;
  std::vector<Running> running_;
  Random random_;
  DeviceState state_;
  std::map<const Fault*, uint64_t> faultCounts_;  // answers each every-N fault has seen
  std::deque<Job> answers_;                       // in order: answers whose turn has not come
  std::map<JobKey, Job> ready_;                   // waiting for the line
  bool active_ = false;                           // current_ holds the line
  Job current_;
  size_t currentPiece_ = 0;
  Millis currentDue_ = 0;  // when current_'s next piece falls due
  Millis answersFree_ = 0;  // when the last answer ended
  uint64_t made_ = 0;       // jobs made, for their order
  Millis noiseNext_ = kNever;
  bool noiseWaiting_ = false;
  std::string frame_;  // requests end gap: the bytes heard since the last silence
  Millis frameLast_ = 0;
  std::vector<DeviceNote> notes_;
  std::string queue_;  // waiting bytes from head_ on
  size_t head_ = 0;
  std::string mode_;  // the mode the device is in
  bool atOtherRate() const { return file_.baud != 0 && portBaud_ != 0 && portBaud_ != file_.baud; }

  uint32_t byteUs_ = 0;
  uint32_t charUs_ = 0;
  uint32_t portBaud_ = 0;
  uint64_t lineFreeUs_ = 0;  // when the line has sent what it was given
  size_t queueSize_ = 4096;
  Millis utcAt_ = 0;
  int64_t utcMs_ = 0;
  bool backpressure_ = false;
  bool overflow_ = false;
  bool closed_ = false;
  bool unplugged_ = false;
  uint32_t removalError_ = 0;
  uint32_t faults_ = 0;
  uint8_t modem_ = kCtsLine | kDsrLine;
  bool hostDtr_ = false, hostRts_ = false;  // low while no port drives them
  bool reset_ = false;
};

}  // namespace nbdevice

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
#include <regex>
#include <string>
#include <vector>

#include "device_file.h"

namespace nbdevice {

using Millis = uint64_t;
constexpr Millis kNever = ~Millis(0);

// Cuts a byte stream into requests at the file's endings. Without endings
// it only keeps the bytes since the last request heard (see Device::hear).
class RequestCutter {
 public:
  explicit RequestCutter(std::vector<std::string> ends) : ends_(std::move(ends)) {}
  // Takes one byte; true when it completes a request (in `request`, without
  // its ending; empty requests are not reported).
  bool take(char byte, std::string& request);
  // The bytes since the last complete request.
  const std::string& pending() const { return buffer_; }
  void clear() { buffer_.clear(); }

 private:
  std::vector<std::string> ends_;
  std::string buffer_;
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
  // Moves the output due by `now` into the receive queue; a close that
  // falls due ends the connection (see closed).
  void advance(Millis now);
  // When the next output falls due (kNever when none will).
  Millis nextOutput() const;
  // The device ended the connection (a "close" in its file fell due): it
  // hears nothing and sends nothing more until it is opened again; what it
  // sent before stays in the receive queue.
  bool closed() const { return closed_; }

  // The receive queue: what the device sent and nobody read yet. Bytes that
  // do not fit are lost and reported once by takeOverflow.
  size_t waiting() const { return queue_.size(); }
  std::string take(size_t most);
  std::string peek(size_t most) const { return queue_.substr(0, most); }
  void setQueueSize(size_t bytes) { queueSize_ = bytes; }
  bool takeOverflow();

 private:
  // Rules that answer the same request: they take turns.
  struct Group {
    const Rule* first;
    std::unique_ptr<std::regex> pattern;  // for patterns, anchored at both ends
    std::unique_ptr<std::regex> tail;     // for patterns without request endings
    std::vector<const Rule*> members;
    size_t turn = 0;
  };
  struct Running {
    const Timed* timed;
    Millis next;
  };
  // Bytes falling due, or the end of the connection.
  struct Output {
    std::string bytes;
    bool close;
  };

  // The group whose request `text` is (or, without endings, ends with);
  // its groups in `match`.
  Group* find(const std::string& text, bool whole, std::smatch& match);
  void answer(Group& group, const std::smatch& match, Millis now);
  void schedule(const Answer& answer, const std::smatch* match, Millis from);

  DeviceFile file_;
  RequestCutter cutter_;
  std::vector<Group> groups_;
  std::vector<Running> running_;
  std::multimap<Millis, Output> pending_;  // equal times keep their order
  std::string queue_;
  size_t queueSize_ = 4096;
  bool overflow_ = false;
  bool closed_ = false;
};

}  // namespace nbdevice

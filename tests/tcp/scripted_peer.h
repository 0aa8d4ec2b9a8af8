// A TCP server on 127.0.0.1 for the tests: it accepts one client and plays
// a script with it on its own thread (segments with gaps, reading what the
// client sent, closing on cue). Every wait has a deadline.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tcptest {

class ScriptedPeer {
 public:
  using Script = std::function<void(ScriptedPeer&)>;

  // Listens on a free port of 127.0.0.1 and runs `script` once a client
  // connects (within 10 s); the connection closes when the script returns.
  explicit ScriptedPeer(Script script);
  // Ends the script's waits (they return as if their time ran out) and
  // joins it.
  ~ScriptedPeer();

  int port() const { return port_; }
  // The wlTCPopen parameter for this peer.
  std::string openText(int timeoutMs) const;

  // For the script. A send is false when the client stopped taking bytes
  // (closed, or not reading for 60 s) or the test is ending.
  bool send(const std::string& bytes);
  // Up to `count` bytes, fewer when the deadline passes or the client closes.
  std::string receive(size_t count, int timeoutMs);
  // Whether the client closed its side within the time.
  bool clientClosed(int timeoutMs);
  void pause(int ms);  // a gap between two segments
  bool awaitCue(int timeoutMs);
  void signal();

  // For the test.
  void cue();
  bool awaitSignal(int timeoutMs);
  bool finished(int timeoutMs);

 private:
  void run(const Script& script);
  // Whether `s` becomes readable (or writable) in time; false at once when
  // stopping.
  bool ready(uintptr_t s, bool forWriting, int timeoutMs);
  bool awaitCount(int& count, int timeoutMs);

  uintptr_t listener_ = ~uintptr_t(0);
  uintptr_t client_ = ~uintptr_t(0);
  int port_ = 0;
  std::mutex lock_;
  std::condition_variable changed_;
  int cues_ = 0;
  int signals_ = 0;
  bool done_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

// A socket listening on a free port of 127.0.0.1 (the port in `port`) with
// the backlog given; the network stack is started for the rest of the
// process.
uintptr_t ListenOnLoopback(int* port, int backlog = 4);

// A listener on 127.0.0.1 whose queue of connections is full: it never
// accepts, and connects to it until one stays under way (Linux drops the
// SYN once a listener's accept queue is full, on loopback too), so that a
// further connect stays under way until its time-out. Everything is closed
// with it.
class FullListener {
 public:
  FullListener();
  ~FullListener();
  FullListener(const FullListener&) = delete;
  FullListener& operator=(const FullListener&) = delete;

  int port() const { return port_; }
  // Whether connects stayed under way: the queue is full.
  bool full() const { return full_; }

 private:
  uintptr_t listener_ = ~uintptr_t(0);
  std::vector<uintptr_t> connects_;
  int port_ = 0;
  bool full_ = false;
};

// A port of 127.0.0.1 that nobody listens on.
int UnusedPort();

}  // namespace tcptest

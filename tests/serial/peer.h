// The far end of one of the rig's pty pairs, opened from the test program as
// \\.\COM(100+n): what the plug-in sends arrives here, and what is written
// here arrives at the plug-in's port COMn. Every read has a deadline.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace serialtest {

class Peer {
 public:
  // Opens the peer of COM`port` and drops whatever an earlier test left.
  explicit Peer(int port);
  ~Peer();
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  bool isOpen() const { return handle_ != INVALID_HANDLE_VALUE; }

  // Reads and drops bytes until the line has been quiet for 30 ms (at most 3 s).
  void drain();
  // Writes all of `bytes`; false when the pty refused.
  bool write(const std::string& bytes);
  // Writes `bytes` from another thread after `delayMs`; the thread is
  // joined by the next call of this or by the destructor.
  void writeLater(const std::string& bytes, int delayMs);
  // Reads until `count` bytes came or `deadlineMs` passed.
  std::string read(size_t count, int deadlineMs = 5000);
  // Reads what comes until the line has been quiet for `quietMs`.
  std::string readQuiet(int quietMs = 100, int deadlineMs = 5000);
  // Plays a device from another thread until the peer is destroyed: each
  // request (the bytes up to a CR; an LF is dropped) gets answers(request),
  // in one write; an empty answer sends nothing.
  void serve(std::function<std::string(const std::string& request)> answers);
  // Every byte the device played by serve() has received so far.
  std::string heard();

  // Floods the port from another thread: `unit` again and again without a
  // pause (the pty holds the writer back while the plug-in does not read),
  // for `limitMs` at most. stopFlood ends it and returns every byte written,
  // in order; flooding() is false once the limit has passed.
  void startFlood(const std::string& unit, int limitMs);
  std::string stopFlood();
  bool flooding() const { return flooding_; }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  std::thread writer_;
  std::atomic<bool> flooding_{false}, stop_{false};
  std::string flooded_;
  std::thread server_;
  std::atomic<bool> stopping_{false};
  std::mutex heardLock_;
  std::string heard_;
};

// Seconds since `start` (GetTickCount), for generous bounds on waits.
double SecondsSince(DWORD start);

}  // namespace serialtest

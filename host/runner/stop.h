// Ending a run from outside: Ctrl+C (or Ctrl+Break) at the console, and
// --max-seconds. Both are asked for here and honoured by the run when the
// line running at the time is done (a Pause is cut short, a prompt waiting
// for a line stops waiting), so the action running ends as it would and the
// runner can close the plug-ins' ports.
// A second Ctrl+C ends the process at once (Windows' own handling), and an
// action still running 5 s after the time is up ends it too, with the
// time-out's exit code: nothing the plug-in does can keep a run going.
#pragma once

#include <windows.h>

#include <string>

#include "host/runner/program.h"

namespace nbrun {

class StopSignal {
 public:
  // Catches Ctrl+C from now on; `maxSeconds` 0 sets no time limit.
  explicit StopSignal(int maxSeconds);
  ~StopSignal();
  StopSignal(const StopSignal&) = delete;
  StopSignal& operator=(const StopSignal&) = delete;

  // Done, or why the run must end now.
  Outcome check(std::string& why) const;
  // Waits `milliseconds`, less when a stop comes first.
  void wait(int milliseconds) const;
  // Waits until `ready` is signalled (true) or a stop comes first (false).
  bool waitFor(HANDLE ready) const;

 private:
  static DWORD WINAPI Watch(void* self);
  DWORD left() const;  // milliseconds until the time is up (INFINITE: no limit)

  int maxSeconds_;
  ULONGLONG deadline_;
  HANDLE finished_ = nullptr;  // set when the run is over: the watchdog ends
  HANDLE watchdog_ = nullptr;
};

}  // namespace nbrun

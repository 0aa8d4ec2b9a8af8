#include "host/runner/stop.h"

#include <cstdio>

#include "host/runner/failure.h"

namespace nbrun {
namespace {

// Set by the first Ctrl+C. The console calls the handler on a thread of its
// own, so the flag is an event: it also wakes a Pause.
HANDLE g_interrupted = nullptr;

BOOL WINAPI OnControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  if (WaitForSingleObject(g_interrupted, 0) == WAIT_OBJECT_0) return FALSE;  // the second one
  SetEvent(g_interrupted);
  return TRUE;
}

const DWORD kGraceMilliseconds = 5000;

}  // namespace

StopSignal::StopSignal(int maxSeconds)
    : maxSeconds_(maxSeconds), deadline_(GetTickCount64() + 1000ULL * maxSeconds) {
  g_interrupted = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnControl, TRUE);
  if (maxSeconds_ > 0) {
    finished_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    watchdog_ = CreateThread(nullptr, 0, Watch, this, 0, nullptr);
  }
}

StopSignal::~StopSignal() {
  if (watchdog_) {
    SetEvent(finished_);
    WaitForSingleObject(watchdog_, INFINITE);
    CloseHandle(watchdog_);
    CloseHandle(finished_);
  }
  SetConsoleCtrlHandler(OnControl, FALSE);
  CloseHandle(g_interrupted);
  g_interrupted = nullptr;
}

Outcome StopSignal::check(std::string& why) const {
  if (WaitForSingleObject(g_interrupted, 0) == WAIT_OBJECT_0) {
    why = "stopped by Ctrl+C";
    return Outcome::Interrupted;
  }
  if (left() == 0) {
    why = "stopped: the run took longer than --max-seconds " + std::to_string(maxSeconds_);
    return Outcome::OutOfTime;
  }
  return Outcome::Done;
}

void StopSignal::wait(int milliseconds) const {
  const DWORD asked = static_cast<DWORD>(milliseconds);
  WaitForSingleObject(g_interrupted, asked < left() ? asked : left());
}

bool StopSignal::waitFor(HANDLE ready) const {
  const HANDLE handles[2] = {g_interrupted, ready};
  return WaitForMultipleObjects(2, handles, FALSE, left()) == WAIT_OBJECT_0 + 1;
}

DWORD StopSignal::left() const {
  if (maxSeconds_ <= 0) return INFINITE;
  const ULONGLONG now = GetTickCount64();
  return now >= deadline_ ? 0 : static_cast<DWORD>(deadline_ - now);
}

DWORD WINAPI StopSignal::Watch(void* self) {
  const StopSignal& stop = *static_cast<const StopSignal*>(self);
  if (WaitForSingleObject(stop.finished_, stop.left() + kGraceMilliseconds) == WAIT_TIMEOUT) {
    const std::string where = RunningLine();
    std::fprintf(stderr,
                 "nbrun: %s%san action is still running %lu s after --max-seconds %d ran out; "
                 "the process ends\n",
                 where.c_str(), where.empty() ? "" : ": ", kGraceMilliseconds / 1000,
                 stop.maxSeconds_);
    std::fflush(stderr);
    SayLastWords(Outcome::OutOfTime, (where.empty() ? "" : where + ": ") +
                                         "stopped: an action was still running after --max-seconds " +
                                         std::to_string(stop.maxSeconds_));
    ExitProcess(static_cast<UINT>(Outcome::OutOfTime));
  }
  return 0;
}

}  // namespace nbrun

#include "host/runner/prompt.h"

#include <windows.h>

#include <cstdio>

#include "host/runner/session.h"

namespace nbrun {
namespace {

// Lines of standard input, read ahead one at a time on a thread of its own
// through the handle itself: a thread blocked in the C library's stdin would
// hold its lock when the process ends.
class LineReader {
 public:
  LineReader() {
    ready_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    taken_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    CloseHandle(CreateThread(nullptr, 0, Read, this, 0, nullptr));
  }
  // The thread may still wait for input: it ends with the process, and
  // the two events with it.

  // The next line (without its CR LF or LF); false when the input has
  // ended, or a stop came first (`stopped`).
  bool next(const StopSignal& stop, std::string& line, bool& stopped) {
    stopped = !stop.waitFor(ready_);
    if (stopped || ended_) return false;
    line.swap(line_);
    SetEvent(taken_);
    return true;
  }

 private:
  static DWORD WINAPI Read(void* self) {
    static_cast<LineReader*>(self)->read();
    return 0;
  }

  void read() {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    std::string pending;
    char buffer[4096];
    for (;;) {
      size_t end;
      while ((end = pending.find('\n')) == std::string::npos) {
        DWORD got = 0;
        SetLastError(0);
        if (!ReadFile(input, buffer, sizeof buffer, &got, nullptr) || got == 0) {
          // Ctrl+C at a console ends the read this way, not the input: the
          // stop it asks for is seen by the waiting thread.
          if (GetLastError() == ERROR_OPERATION_ABORTED) {
            Sleep(10);
            continue;
          }
          if (pending.empty()) {
            ended_ = true;
            SetEvent(ready_);
            return;
          }
          end = pending.size();
          pending += '\n';
          break;
        }
        pending.append(buffer, got);
      }
      line_ = pending.substr(0, end > 0 && pending[end - 1] == '\r' ? end - 1 : end);
      pending.erase(0, end + 1);
      SetEvent(ready_);
      WaitForSingleObject(taken_, INFINITE);
    }
  }

  HANDLE ready_, taken_;
  std::string line_;     // handed over under the two events
  bool ended_ = false;   // set before ready_
};

}  // namespace

int RunPrompt(Runner& runner, int maxSeconds) {
  StopSignal stop(maxSeconds);
  runner.watch(&stop);
  LineReader input;
  Session session(runner.knows());
  std::printf("Type actions or statements, one per line; \"quit\" ends.\n");
  Outcome outcome = Outcome::Done;
  std::string message;
  for (;;) {
    std::printf(session.open() ? "  ...> " : "nbrun> ");
    std::fflush(stdout);
    std::string line;
    bool stopped = false;
    if (!input.next(stop, line, stopped) || IsQuit(line)) {
      std::printf("\n");
      std::fflush(stdout);
      if (stopped) {
        outcome = stop.check(message);
        message = "at the prompt: " + message;
      } else {
        message = session.end();
        if (!message.empty()) message += " (the block did not run)";
      }
      break;
    }
    outcome = runner.guard(
        [&](std::string& why) { return session.feed(line, runner, why); }, message);
    if (outcome == Outcome::Done || outcome == Outcome::Failed) {
      // A mistake is shown and the prompt goes on.
      if (!message.empty()) std::fprintf(stderr, "%s\n", message.c_str());
      message.clear();
      outcome = Outcome::Done;
      continue;
    }
    break;
  }
  const int code = runner.finish(outcome, message);
  runner.watch(nullptr);
  return code;
}

}  // namespace nbrun

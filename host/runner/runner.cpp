#include "host/runner/runner.h"

#include <windows.h>

#include <cstdio>
#include <new>

#include "host/runner/failure.h"
#include "host/runner/script.h"

namespace nbrun {
namespace {

// The ports a plug-in's wlCommClose takes; closing one that is not open
// makes no system call.
const int kLastPort = 16;

}  // namespace

Runner::Runner(nbhost::Host& host, bool trace, bool quiet) : host_(host), trace_(trace) {
  host_.variables().onSet = [this, quiet](const nbhost::VariableSet& set) {
    variables_.set(set.name, set.value);
    if (quiet) return;
    std::printf("  %s = \"%s\"\n", set.name.c_str(), Visible(set.value).c_str());
    std::fflush(stdout);
  };
}

ActionKnown Runner::knows() const {
  return [this](const std::string& name) { return host_.find(name) != nullptr; };
}

bool Runner::action(const std::string& name, const std::string& parameters) {
  int32_t number = 0;
  nbhost::PlugIn* plugIn = host_.find(name, &number);
  if (plugIn == nullptr) return false;
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  const int32_t result = plugIn->exec(number, parameters);
  QueryPerformanceCounter(&end);
  if (trace_) {
    const double ms = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                      static_cast<double>(frequency.QuadPart);
    std::printf("> %s (%d) \"%s\" -> %d in %.3f ms\n", name.c_str(), number,
                Visible(parameters).c_str(), result, ms);
    std::fflush(stdout);
  }
  return true;
}

void Runner::print(const std::string& text) {
  std::printf("%s\n", text.c_str());
  std::fflush(stdout);
}

void Runner::pause(int milliseconds) {
  if (stop_) {
    stop_->wait(milliseconds);
  } else {
    Sleep(static_cast<DWORD>(milliseconds));
  }
}

Outcome Runner::stop(std::string& why) { return stop_ ? stop_->check(why) : Outcome::Done; }

void Runner::running(const std::string& where) { NoteRunningLine(where); }

Outcome Runner::guard(const std::function<Outcome(std::string&)>& run, std::string& message) {
  try {
    return run(message);
  } catch (const std::bad_alloc&) {
    // What the failed run held is freed by now: the ports can still close.
    message = RunnerFailure("out of memory");
    return Outcome::RunnerFailed;
  } catch (const std::exception& e) {
    message = RunnerFailure(e.what());
    return Outcome::RunnerFailed;
  }
}

int Runner::finish(Outcome outcome, const std::string& message) {
  NoteRunningLine("");
  if (!message.empty()) std::fprintf(stderr, "%s\n", message.c_str());
  closeAll();
  if (outcome != Outcome::Done) {
    std::fprintf(stderr, "nbrun: the plug-ins' ports and TCP connection are closed\n");
  }
  return static_cast<int>(outcome);
}

// Quietly: what the close actions set is no news once the run is over.
void Runner::closeAll() {
  auto& shown = host_.variables().onSet;
  const auto keep = shown;
  shown = nullptr;
  for (const nbhost::Host::Loaded& loaded : host_.plugIns()) {
    nbhost::PlugIn& plugIn = *loaded.plugIn;
    if (plugIn.number("wlCommClose") > 0) {
      for (int port = 1; port <= kLastPort; ++port) plugIn.exec("wlCommClose", std::to_string(port));
    }
    if (plugIn.number("wlTCPclose") > 0) plugIn.exec("wlTCPclose", "");
  }
  shown = keep;
}

}  // namespace nbrun

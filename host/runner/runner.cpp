#include "host/runner/runner.h"

#include <windows.h>

#include <cstdio>
#include <new>

#include "host/runner/failure.h"
#include "host/runner/script.h"
#include "host/runner/warnings.h"
#include "serial/serial_rules.h"

namespace nbrun {

Runner::Runner(nbhost::Host& host, const RunnerSettings& settings)
    : host_(host), settings_(settings) {
  host_.variables().onSet = [this](const nbhost::VariableSet& set) {
    variables_.set(set.name, set.value);
    if (settings_.quiet) return;
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
  const std::string ignored = QuietlyIgnored(name, parameters);
  if (!ignored.empty() && warn(where_, ignored) && settings_.strict) {
    refused_ = ignored + " (--strict)";
    return true;
  }
  const std::string place = OpenedPlace(name, parameters);
  if (!place.empty()) opened_.push_back(place);
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  const int32_t result = plugIn->exec(number, parameters);
  QueryPerformanceCounter(&end);
  if (settings_.trace) {
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

Outcome Runner::stop(std::string& why) {
  if (!refused_.empty()) {
    why.swap(refused_);
    refused_.clear();
    return Outcome::Failed;
  }
  return stop_ ? stop_->check(why) : Outcome::Done;
}

void Runner::running(const std::string& where) {
  where_ = where;
  NoteRunningLine(where);
}

void Runner::expected(const std::string& where, int pass, bool held, const std::string& what) {
  if (settings_.results) settings_.results->expectation(where, pass, held, what);
}

bool Runner::warn(const std::string& where, const std::string& text) {
  if (!where.empty() && !warned_.insert(where).second) return false;
  const std::string line = (where.empty() ? "" : where + ": ") + text;
  std::fflush(stdout);
  std::fprintf(stderr, "nbrun: warning: %s\n", line.c_str());
  std::fflush(stderr);
  if (settings_.results) settings_.results->warning(line);
  return true;
}

bool Runner::warnUnopened() {
  bool any = false;
  for (const std::string& device : settings_.devices) {
    bool reached = false;
    for (const std::string& place : opened_) reached = reached || SamePlace(device, place);
    if (reached) continue;
    warn("", NeverOpened(device, true));
    any = true;
  }
  return any;
}

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

int Runner::finish(Outcome outcome, std::string message) {
  NoteRunningLine("");
  // A run cut short says nothing of the devices it did not reach.
  if (outcome == Outcome::Done && warnUnopened() && settings_.strict) {
    outcome = Outcome::Failed;
    message = "nbrun: a device no open reached is a mistake with --strict";
  }
  if (!message.empty()) std::fprintf(stderr, "%s\n", message.c_str());
  closeAll();
  if (outcome != Outcome::Done) {
    std::fprintf(stderr, "nbrun: the plug-ins' ports and TCP connection are closed\n");
  }
  std::string error;
  if (settings_.results && !settings_.results->end(outcome, message, error)) {
    std::fprintf(stderr, "nbrun: %s\n", error.c_str());
    if (outcome == Outcome::Done) outcome = Outcome::Failed;
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
      // Every port a plug-in's wlCommClose takes; closing one that is not
      // open makes no system call.
      for (int port = 1; wl::PortInRange(port); ++port) plugIn.exec("wlCommClose", std::to_string(port));
    }
    if (plugIn.number("wlTCPclose") > 0) plugIn.exec("wlTCPclose", "");
  }
  shown = keep;
}

}  // namespace nbrun

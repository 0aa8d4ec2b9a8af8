// The application's part while a script or the prompt runs: each action is
// run by the loaded plug-in whose catalogue names it, every variable a
// plug-in sets is printed as it is set and kept in one store for all of
// them (variables.h), and every end of a run, whatever ended it, closes what
// the script left open through each plug-in's own close actions, so each
// device gets its time-outs back and a spy sees the close.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "host/nbhost.h"
#include "host/runner/program.h"
#include "host/runner/stop.h"
#include "host/runner/variables.h"

namespace nbrun {

class Runner : public Host {
 public:
  // The host's plug-ins are loaded and registered; `trace` prints each
  // action's number, parameter text, result and time; `quiet` prints only
  // what the script prints, not each variable a plug-in sets.
  Runner(nbhost::Host& host, bool trace, bool quiet = false);

  // Ctrl+C and --max-seconds, while a run lasts (nullptr: none).
  void watch(const StopSignal* stop) { stop_ = stop; }

  // Whether a loaded plug-in names the action, for checking a script at load.
  ActionKnown knows() const;

  Variables& variables() { return variables_; }

  // Runs `run`; an allocation (or any C++ exception) that fails in the
  // runner's own code ends it as RunnerFailed, naming the line that was
  // running in `message`.
  Outcome guard(const std::function<Outcome(std::string& message)>& run, std::string& message);

  // Ends a run: prints `message` on stderr, closes every port and the
  // connection through the plug-ins' own actions, and returns the exit code.
  int finish(Outcome outcome, const std::string& message);

  // Host
  bool action(const std::string& name, const std::string& parameters) override;
  void print(const std::string& text) override;
  void pause(int milliseconds) override;
  Outcome stop(std::string& why) override;
  std::string variable(const std::string& name) override { return variables_.get(name); }
  void setVariable(const std::string& name, const std::string& value) override {
    variables_.set(name, value);
  }
  void running(const std::string& where) override;

 private:
  void closeAll();

  nbhost::Host& host_;
  bool trace_;
  Variables variables_;
  const StopSignal* stop_ = nullptr;
};

}  // namespace nbrun

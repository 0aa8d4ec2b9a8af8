// The application's part while a script or the prompt runs: each action is
// run by the loaded plug-in whose catalogue names it, every variable a
// plug-in sets is printed as it is set and kept in one store for all of
// them (variables.h), and every end of a run, whatever ended it, closes what
// the script left open through each plug-in's own close actions, so each
// device gets its time-outs back and a spy sees the close.
//
// What a plug-in would quietly ignore (warnings.h) is named on stderr, once
// a line, as the action is about to run; with `strict` the run stops there
// instead, as at a mistake. Each Expect and the run's end go to the
// results (results.h) when there are any.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "host/nbhost.h"
#include "host/runner/program.h"
#include "host/runner/results_file.h"
#include "host/runner/stop.h"
#include "host/runner/variables.h"

namespace nbrun {

struct RunnerSettings {
  bool trace = false;  // print each action's number, parameter text, result and time
  bool quiet = false;  // print only what the script prints, not each variable set
  bool strict = false;  // a warning stops the run as a mistake does
  std::vector<std::string> devices;  // the --device places, to name one the run never opens
  ResultsFile* results = nullptr;    // none: no --results
};

class Runner : public Host {
 public:
  // The host's plug-ins are loaded and registered.
  Runner(nbhost::Host& host, const RunnerSettings& settings);

  // Ctrl+C and --max-seconds, while a run lasts (nullptr: none).
  void watch(const StopSignal* stop) { stop_ = stop; }

  // Whether a loaded plug-in names the action, for checking a script at load.
  ActionKnown knows() const;

  Variables& variables() { return variables_; }
  ResultsFile* results() const { return settings_.results; }

  // Runs `run`; an allocation (or any C++ exception) that fails in the
  // runner's own code ends it as RunnerFailed, naming the line that was
  // running in `message`.
  Outcome guard(const std::function<Outcome(std::string& message)>& run, std::string& message);

  // Ends a run: prints `message` on stderr, closes every port and the
  // connection through the plug-ins' own actions, writes the results, and
  // returns the exit code.
  int finish(Outcome outcome, std::string message);

  // Names a warning on stderr and in the results; false when `where`
  // already had one.
  bool warn(const std::string& where, const std::string& text);

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
  void expected(const std::string& where, int pass, bool held, const std::string& what) override;

 private:
  void closeAll();
  // Names the devices no open reached, once a run has gone to its end;
  // false when there was none.
  bool warnUnopened();

  nbhost::Host& host_;
  RunnerSettings settings_;
  Variables variables_;
  const StopSignal* stop_ = nullptr;
  std::string where_;                 // the line running
  std::set<std::string> warned_;      // the lines that had a warning
  std::string refused_;               // --strict: the warning that stops the run
  std::vector<std::string> opened_;   // the places opens reached
};

}  // namespace nbrun

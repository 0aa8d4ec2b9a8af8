// A run's results as JUnit XML (--results FILE), the form build servers
// read: one test suite for the script, one test case for each Expect the
// run carried out, named by its line ("poll.nbs:21", and "poll.nbs:21 pass
// 3" for the third time a line ran in a loop), with what was expected and
// what was found; a run that ended otherwise than at its end or at a
// failed Expect (a mistake, --max-seconds, Ctrl+C, a crash) adds a case of
// its own with that end as its error. A case's time is the time since the
// case before it (or the run's start): the dialogue that led to it.
// Pure code: no Windows here.
#pragma once

#include <string>
#include <vector>

#include "host/runner/program.h"

namespace nbrun {

class Results {
 public:
  // `source`: the script as named on the command line; empty for the prompt.
  explicit Results(const std::string& source);

  // An Expect carried out at `seconds` since the run's start. `pass` is 0
  // for a line that runs once, else how many times it has run.
  void expectation(const std::string& where, int pass, bool held, const std::string& what,
                   double seconds);
  // Shown with the suite, as the run printed it.
  void warning(const std::string& text);
  // How the run ended; `message` names the line, as the runner prints it.
  void end(Outcome outcome, const std::string& message, double seconds);

  std::string xml() const;

 private:
  struct Case {
    std::string name;
    double seconds = 0;
    std::string failure, error;  // the message; empty when none
    std::string type;            // the error's kind
    std::string what;            // what was expected and found
  };

  std::string source_, suite_, classname_;
  std::vector<Case> cases_;
  std::vector<std::string> warnings_;
  double last_ = 0;  // when the last case ended
  double total_ = 0;
};

// Text as XML character data or an attribute value: markup escaped, other
// control bytes shown as \xHH, a byte above 127 kept where it belongs to a
// UTF-8 sequence and otherwise written as the Latin-1 character it is.
std::string XmlText(const std::string& text);

}  // namespace nbrun

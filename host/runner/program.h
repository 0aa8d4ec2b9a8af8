// A script loaded whole, then run.
//
// Loading reads every line (script.h), checks that a loaded plug-in has each
// action named, matches the blocks (If with its Else
// and EndIf, While with EndWhile, Loop with EndLoop, ExitLoop with the loop
// around it), collects the :labels and checks every argument that holds no
// [name] (operators, Math expressions, numbers, GotoLine's label). So a
// malformed script stops with "demo.nbs:12: EndLoop without Loop" before its
// first action has touched a device. What depends on variables is checked
// when the statement runs, with the same words.
//
// Running steps through the lines: blocks and GotoLine jump to matched
// lines, so a jump out of a loop leaves nothing behind. A Loop keeps its own
// count: setting its variable in the body does not change how often it runs.
//
// The plug-in, the console and the clock are behind Host: pure code, no
// Windows here.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "host/runner/script.h"

namespace nbrun {

// How a run ended; the values are nbrun's exit codes. RunnerFailed is the
// runner's own failure (a crash, memory exhausted), never the script's.
enum class Outcome {
  Done = 0, ExpectFailed = 1, Failed = 2, OutOfTime = 3, Interrupted = 4, RunnerFailed = 5,
};

struct Line {
  int number = 0;  // in the file, from 1
  Statement statement;
  // The index of the matched line: an If's Else (or its EndIf), an Else's
  // EndIf, a While's EndWhile and back, a Loop's EndLoop and back, an
  // ExitLoop's EndLoop or EndWhile.
  size_t match = 0;
};

struct Program {
  std::string source;                    // the script's name in messages; empty: "line N"
  std::vector<Line> lines;               // the lines that hold a statement or a label
  std::map<std::string, size_t> labels;  // lower-case name -> its line's index

  // "demo.nbs:12" (or "line 12" without a source).
  std::string where(const Line& line) const;
};

// Whether a loaded plug-in has an action by this name (in any case).
using ActionKnown = std::function<bool(const std::string& name)>;

// What is wrong with one line taken alone (its form, its literal arguments,
// its action's name when `known` is given), or empty text. Blocks, labels
// and jumps need the whole script: Load checks those.
std::string CheckLine(const std::string& text, const ActionKnown& known, ParsedLine& parsed);

// Loads the script's lines, numbered from `firstNumber`. False with the first
// problem in `error`, naming its line. Without `known`, action names are
// checked only when they run.
bool Load(const std::vector<std::string>& text, const std::string& source, int firstNumber,
          Program& program, std::string& error, const ActionKnown& known = nullptr);

// Adds lines to a loaded program, numbered from `firstNumber`, checked as
// Load checks them: the blocks they open they close, their GotoLines may
// name the program's earlier labels. False with the first problem in
// `error`, the program then as it was.
bool Extend(Program& program, const std::vector<std::string>& text, int firstNumber, std::string& error,
            const ActionKnown& known = nullptr);

class Host {
 public:
  virtual ~Host() = default;
  // Runs the plug-in's action; false when it has no action by that name.
  virtual bool action(const std::string& name, const std::string& parameters) = 0;
  virtual void print(const std::string& text) = 0;
  // Waits, or less when a stop is asked for meanwhile.
  virtual void pause(int milliseconds) = 0;
  // Done to go on; otherwise the run ends here for the reason in `why`.
  virtual Outcome stop(std::string& why) = 0;
  virtual std::string variable(const std::string& name) = 0;
  virtual void setVariable(const std::string& name, const std::string& value) = 0;
  // Called before each statement runs, with its place ("demo.nbs:12").
  virtual void running(const std::string& /*where*/) {}
  // Each Expect carried out, at its place; `pass` is 0 for a line outside
  // loops that runs once, else how many times the line has run (loops and
  // GotoLine). `what` says what was expected and what was found.
  virtual void expected(const std::string& /*where*/, int /*pass*/, bool /*held*/,
                        const std::string& /*what*/) {}
};

// Runs the program from its line at index `start` to its end: Done, or how
// it ended with `message` naming the line. A stop asked for while a line
// runs ends the run when that line is done and names it, the last line too.
Outcome Run(const Program& program, Host& host, std::string& message, size_t start = 0);

}  // namespace nbrun

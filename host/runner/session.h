// The prompt's lines as one script that grows as it is typed.
//
// A line runs as soon as it is complete: a statement at once, a block (If,
// While, Loop) when the line that closes it comes, so an If whose condition
// does not hold runs nothing. A label typed earlier stays known: GotoLine
// jumps back to it and goes on from there through the lines typed since, as
// a script would. A line with a mistake is refused as soon as it is typed,
// with the same words as in a script, and the block it is in stays open;
// lines are numbered as typed, refused ones included.
// Pure code: no Windows here.
#pragma once

#include <string>
#include <vector>

#include "host/runner/program.h"

namespace nbrun {

class Session {
 public:
  explicit Session(ActionKnown known) : known_(std::move(known)) {}

  // Takes one typed line and runs what it completes on `host`: Done while a
  // block waits for its end (open()), Failed for a refused line, otherwise
  // how the run ended, with `message` naming the line.
  Outcome feed(const std::string& line, Host& host, std::string& message);

  // Whether a block waits for the line that ends it.
  bool open() const { return !waiting_.empty(); }

  // The input has ended: why a block still open does not run ("line 4: If
  // without EndIf"), or empty text when none is.
  std::string end() const;

 private:
  ActionKnown known_;
  Program program_;                   // what was typed and ran, loaded once
  std::vector<std::string> waiting_;  // the lines of a block not yet ended, refused ones blank
  int typed_ = 0;                     // the lines typed so far
};

// "quit" in any case, blanks around allowed: the word that ends the prompt.
bool IsQuit(const std::string& line);

}  // namespace nbrun

// The patterns of device files (match "ECHO (.*)" send "$1"): the regular
// expressions authors know from JavaScript and most editors, run by a
// machine that holds every way the pattern can go at once instead of trying
// them one after another. A match therefore takes time in proportion to the
// request's length times the pattern's size, whatever the pattern ("(a+)+b"
// on a line of a's included), and never recurses, so no request can hold a
// played device or overflow the stack.
//
// Syntax: literal bytes; . (any byte but CR and LF); [abc] [^a-z] classes;
// \d \D \w \W \s \S; \b \B; ^ and $ (the request's start and end); ( ) groups
// and (?: ) groups that capture nothing; |; * + ? {n} {n,} {n,m}, each also
// lazy with a ? after it; \ before any punctuation for itself, and \t \r \n
// \xHH for those bytes. What needs a search that tries paths one after
// another (\1 back references, look-arounds) is refused with a reason.
// Among several ways to match, the one a left-to-right, greedy-first search
// would find is taken, so groups capture what such engines capture.
// A pattern goes through three stages: read into a tree (pattern_syntax.h),
// written as the steps of a machine (pattern_program.h), and run here; a
// run keeps its threads in buffers it sizes once, so matching allocates
// nothing as the bytes come.
// Pure code: no Windows here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "wire/pattern_program.h"

namespace nbdevice {

// Where group k matched: [2k] its start, [2k+1] its end; -1 when it did not
// take part. Group 0 is the whole match.
using Captures = std::vector<int>;

// Threads of the machine in order of preference: the step each stands at
// and the positions it saved.
class PatternThreads {
 public:
  // Room for `threads` threads of `slots` positions each.
  void reserve(size_t threads, size_t slots);
  void clear();
  void add(size_t step, const int* saved);
  size_t size() const { return steps_.size(); }
  size_t step(size_t k) const { return steps_[k]; }
  const int* saved(size_t k) const { return saved_.data() + k * slots_; }

 private:
  size_t slots_ = 0;
  std::vector<size_t> steps_;
  std::vector<int> saved_;
};

// The machine running a program: its threads between two bytes, and the
// steps that take no byte followed from there, in order of preference.
class PatternRun {
 public:
  explicit PatternRun(const PatternProgram& program) : program_(&program) {}
  // One thread at the start of the pattern, alone.
  void start();
  // Another at the start, after all the others: a match that begins here.
  void seed();
  // The threads moved along every step that takes no byte, at `position`
  // between the bytes `before` and `at` (-1: none), until they wait for a
  // byte. `match` (when given) gets the first that reached the end of the
  // pattern, or is cleared when none did.
  void close(int position, int before, int at, Captures* match);
  // The threads that waited for `byte` and take it, one step on.
  void advance(unsigned char byte);
  // Whether no thread is left.
  bool over() const { return frontier_.size() == 0; }

 private:
  // A step to follow, or (`slot` >= 0) a saved position to put back once
  // the ways that went through the save have been followed.
  struct Pending {
    size_t step;
    int slot;
    int value;
  };
  void follow(int position, int before, int at, Captures* match, bool& matched);

  const PatternProgram* program_;
  PatternThreads frontier_;  // after the last byte, before the steps that take none
  PatternThreads waiting_;   // after those steps, waiting for a byte
  std::vector<Pending> pending_;
  std::vector<uint32_t> seen_;  // the close in which each step was reached
  uint32_t closes_ = 0;
  std::vector<int> saved_;  // the positions of the thread being followed
};

class Pattern {
 public:
  // Compiles `text`; false with the reason in `error` ("a ( is never closed").
  // `dotTakesEveryByte`: . takes CR and LF too (binary requests, framed by
  // silence rather than by a line end).
  bool compile(const std::string& text, std::string& error, bool dotTakesEveryByte = false);
  // The groups the pattern has, besides the whole match.
  size_t groups() const { return program_.groups; }
  // Whether the whole of `text` matches.
  bool matchWhole(const std::string& text, Captures& captures) const;

  // A match that grows with the text: bytes are fed one at a time, and after
  // each one it tells whether a match of the pattern ends there (the one
  // that starts leftmost). Positions count from the last reset.
  class Tail {
   public:
    explicit Tail(const Pattern& pattern) : run_(pattern.program_) { reset(); }
    void reset();
    // Takes the next byte; true when a match ends with it, in `captures`.
    bool feed(unsigned char byte, Captures& captures);

   private:
    PatternRun run_;
    int position_ = 0;
    int before_ = -1;  // the byte before the position; -1 at the start
  };

 private:
  PatternProgram program_;
};

// An answer's text with $& (the whole request), $1 to $20 (the group of that
// number: two digits only when the pattern has that many groups, and only
// groups the pattern has) and $$ (one $) filled
// in from `text` and its captures; any other $ stays as it is, so "cost
// $5.00" needs $$ only where the pattern has five groups.
std::string ExpandAnswer(const std::string& answer, const std::string& text,
                         const Captures& captures, size_t groups);

}  // namespace nbdevice

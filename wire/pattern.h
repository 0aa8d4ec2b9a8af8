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
// Pure code: no Windows here.
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace nbdevice {

// The most steps a pattern may compile to (a literal, a class, a group's
// start or end, each copy of a repeated part counts one or two), the most
// groups that capture, and the deepest nesting of groups. A request is
// matched in at most its length times kMostPatternSteps steps.
constexpr size_t kMostPatternSteps = 2000;
constexpr size_t kMostGroups = 20;
constexpr size_t kDeepestGroups = 50;

// Where group k matched: [2k] its start, [2k+1] its end; -1 when it did not
// take part. Group 0 is the whole match.
using Captures = std::vector<int>;

class Pattern {
 public:
  // Compiles `text`; false with the reason in `error` ("a ( is never closed").
  // `dotTakesEveryByte`: . takes CR and LF too (binary requests, framed by
  // silence rather than by a line end).
  bool compile(const std::string& text, std::string& error, bool dotTakesEveryByte = false);
  // The groups the pattern has, besides the whole match.
  size_t groups() const { return groups_; }
  // Whether the whole of `text` matches.
  bool matchWhole(const std::string& text, Captures& captures) const;

  struct Thread {
    size_t pc;
    std::shared_ptr<const Captures> captures;  // shared until a group saves a position
  };

  // A match that grows with the text: bytes are fed one at a time, and after
  // each one it tells whether a match of the pattern ends there (the one
  // that starts leftmost). Positions count from the last reset.
  class Tail {
   public:
    explicit Tail(const Pattern& pattern) : pattern_(&pattern) { reset(); }
    void reset();
    // Takes the next byte; true when a match ends with it, in `captures`.
    bool feed(unsigned char byte, Captures& captures);

   private:
    const Pattern* pattern_;
    std::vector<Thread> frontier_;  // where the threads stand, before the steps that take no byte
    int position_ = 0;
    int before_ = -1;  // the byte before the position; -1 at the start
  };

 private:
  enum class Op : uint8_t { Byte, Any, Class, Split, Jump, Save, Begin, End, Boundary, NotBoundary, Match };
  struct Step {
    Op op;
    unsigned char byte = 0;
    size_t x = 0, y = 0;  // Split: x before y; Jump: x; Save: slot x; Class: class x
  };
  friend class PatternCompiler;

  // The threads of `frontier` moved along every step that takes no byte, at
  // `position` between the bytes `before` and `at` (-1: none), in order of
  // preference: those that wait for a byte. `match` gets the first that
  // reached the end of the pattern, if any did.
  std::vector<Thread> close(const std::vector<Thread>& frontier, int position, int before, int at,
                            Captures* match) const;
  // The threads of `waiting` that take `byte`, one step on.
  std::vector<Thread> advance(const std::vector<Thread>& waiting, unsigned char byte) const;
  Thread seed() const;

  std::vector<Step> steps_;
  std::vector<std::bitset<256>> classes_;
  size_t groups_ = 0;
  bool dotTakesEveryByte_ = false;
};

// An answer's text with $& (the whole request), $1 to $20 (the group of that
// number: two digits only when the pattern has that many groups, and only
// groups the pattern has) and $$ (one $) filled
// in from `text` and its captures; any other $ stays as it is, so "cost
// $5.00" needs $$ only where the pattern has five groups.
std::string ExpandAnswer(const std::string& answer, const std::string& text,
                         const Captures& captures, size_t groups);

}  // namespace nbdevice

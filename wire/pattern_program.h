// The second stage of a pattern: its tree (pattern_syntax.h) written as the
// steps of a machine that follows every way at once (pattern.h runs it).
// A step takes one byte, tests the position, saves it for a group, or
// leads to other steps; a split's first way is the one preferred.
// Pure code: no Windows here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "wire/pattern_syntax.h"

namespace nbdevice {

enum class PatternOp : uint8_t { Byte, Any, Class, Split, Jump, Save, Begin, End, Boundary, NotBoundary, Match };

struct PatternStep {
  PatternOp op;
  unsigned char byte = 0;
  size_t x = 0, y = 0;  // Split: x before y; Jump: x; Save: slot x; Class: class x
};

struct PatternProgram {
  std::vector<PatternStep> steps;
  std::vector<ByteClass> classes;
  size_t groups = 0;
  bool dotTakesEveryByte = false;  // . takes CR and LF too (binary requests)
  // The positions a match saves: two for each group and the whole match.
  size_t slots() const { return 2 * (groups + 1); }
};

// Writes the steps of `tree`, which it takes apart; false with the reason
// in `error` when they are more than kMostPatternSteps.
bool CompilePattern(PatternTree& tree, PatternProgram& program, std::string& error);

}  // namespace nbdevice

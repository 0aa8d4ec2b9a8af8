// The first stage of a pattern (pattern.h says what patterns may hold):
// its text read into a tree of parts, with the byte classes it names and
// the groups it captures. Nothing here knows how the tree is matched.
// Pure code: no Windows here.
#pragma once

#include <bitset>
#include <cstddef>
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

// A set of bytes ([a-z], \d, .).
using ByteClass = std::bitset<256>;

// A part of a pattern.
struct PatternNode {
  enum Kind { Empty, Byte, Any, Class, Group, Concat, Alt, Repeat, Begin, End, Boundary, NotBoundary };
  Kind kind = Empty;
  unsigned char byte = 0;
  size_t index = 0;  // Class: its class; Group: its number (0: captures nothing)
  std::vector<PatternNode> parts;
  int least = 0, most = 0;  // Repeat: most -1 for no limit
  bool greedy = true;
};

struct PatternTree {
  PatternNode root;
  std::vector<ByteClass> classes;
  size_t groups = 0;  // besides the whole match
};

// Reads `text`; false with the reason in `error` ("a ( is never closed").
bool ParsePattern(const std::string& text, PatternTree& tree, std::string& error);

// Whether a byte is a letter, a digit or _ (\w, \b); -1, no byte, is none.
bool IsWordByte(int byte);

}  // namespace nbdevice

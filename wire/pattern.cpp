#include "pattern.h"

#include <cctype>
#include <memory>

namespace nbdevice {
namespace {

// The longest count a repeat may give ({n}, {n,m}).
constexpr int kMostRepeats = 1000;

bool IsWord(int byte) { return byte >= 0 && (std::isalnum(byte) || byte == '_'); }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A pattern read into its parts.
struct Node {
  enum Kind { Empty, Byte, Any, Class, Group, Concat, Alt, Repeat, Begin, End, Boundary, NotBoundary };
  Kind kind = Empty;
  unsigned char byte = 0;
  size_t index = 0;  // Class: its class; Group: its number (0: captures nothing)
  std::vector<Node> parts;
  int least = 0, most = 0;  // Repeat: most -1 for no limit
  bool greedy = true;
};

std::bitset<256> ClassOf(char letter) {
  std::bitset<256> set;
  for (int b = 0; b < 256; ++b) {
    const bool in = letter == 'd' || letter == 'D'   ? (b >= '0' && b <= '9')
                    : letter == 'w' || letter == 'W' ? IsWord(b)
                                                     : (b == ' ' || (b >= '\t' && b <= '\r'));
    set[b] = in;
  }
  return std::isupper(static_cast<unsigned char>(letter)) ? ~set : set;
}

}  // namespace

// Reads a pattern into nodes, then writes the steps of the machine.
class PatternCompiler {
 public:
  PatternCompiler(const std::string& text, Pattern& pattern) : text_(text), pattern_(pattern) {}

  bool run(std::string& error) {
    Node root = alternatives();
    if (error_.empty() && at_ < text_.size()) fail("a ) has no ( before it");
    if (error_.empty()) {
      emit({Pattern::Op::Save, 0, 0, 0});
      compile(root);
      emit({Pattern::Op::Save, 0, 1, 0});
      emit({Pattern::Op::Match});
    }
    error = error_;
    return error_.empty();
  }

 private:
  bool more() const { return at_ < text_.size() && error_.empty(); }
  char peek() const { return text_[at_]; }
  void fail(const std::string& why) {
    if (error_.empty()) error_ = why;
  }

  Node alternatives() {
    Node first = sequence();
    if (!more() || peek() != '|') return first;
    Node alt;
    alt.kind = Node::Alt;
    alt.parts.push_back(std::move(first));
    while (more() && peek() == '|') {
      ++at_;
      alt.parts.push_back(sequence());
    }
    return alt;
  }

  Node sequence() {
    Node seq;
    seq.kind = Node::Concat;
    while (more() && peek() != '|' && peek() != ')') seq.parts.push_back(repeated());
    return seq;
  }

  Node repeated() {
    Node atom = this->atom();
    bool repeatedOnce = false;
    while (more()) {
      int least = 0, most = 0;
      const char c = peek();
      if (c == '*') {
        least = 0, most = -1;
      } else if (c == '+') {
        least = 1, most = -1;
      } else if (c == '?') {
        least = 0, most = 1;
      } else if (c == '{') {
        if (!counts(least, most)) return atom;  // at_ is left on the closing brace
      } else {
        break;
      }
      ++at_;
      if (repeatedOnce) {
        fail(std::string("a ") + c + " cannot repeat what is repeated already (use a group)");
        return atom;
      }
      if (atom.kind == Node::Begin || atom.kind == Node::End || atom.kind == Node::Boundary ||
          atom.kind == Node::NotBoundary) {
        fail(std::string("there is nothing to repeat before ") + c);
        return atom;
      }
      Node repeat;
      repeat.kind = Node::Repeat;
      repeat.least = least;
      repeat.most = most;
      if (more() && peek() == '?') {
        repeat.greedy = false;
        ++at_;
      }
      repeat.parts.push_back(std::move(atom));
      atom = std::move(repeat);
      repeatedOnce = true;
    }
    return atom;
  }

  // {n}, {n,} or {n,m} at at_; leaves at_ on the closing brace.
  bool counts(int& least, int& most) {
    size_t at = at_ + 1;
    auto number = [&](int& out) {
      const size_t start = at;
      long value = 0;
      while (at < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at]))) {
        value = value * 10 + (text_[at++] - '0');
        if (value > kMostRepeats) value = kMostRepeats + 1;
      }
      out = static_cast<int>(value);
      return at > start;
    };
    bool ok = number(least);
    most = least;
    if (ok && at < text_.size() && text_[at] == ',') {
      ++at;
      if (!number(most)) most = -1;
    }
    ok = ok && at < text_.size() && text_[at] == '}';
    if (!ok) {
      fail("a { must be {n}, {n,} or {n,m} with whole numbers");
      return false;
    }
    if (least > kMostRepeats || most > kMostRepeats) {
      fail("a repeat count goes up to " + std::to_string(kMostRepeats));
      return false;
    }
    if (most >= 0 && most < least) {
      fail("{" + std::to_string(least) + "," + std::to_string(most) + "} counts backwards");
      return false;
    }
    at_ = at;
    return true;
  }

  Node atom() {
    Node node;
    const char c = text_[at_++];
    switch (c) {
      case '(': return group();
      case '[': return characterClass();
      case '.': node.kind = Node::Any; return node;
      case '^': node.kind = Node::Begin; return node;
      case '$': node.kind = Node::End; return node;
      case '*': case '+': case '?': case '{':
        fail(std::string("there is nothing to repeat before ") + c);
        return node;
      case '\\': return escape();
      default:
        node.kind = Node::Byte;
        node.byte = static_cast<unsigned char>(c);
        return node;
    }
  }

  Node group() {
    Node node;
    node.kind = Node::Group;
    if (text_.compare(at_, 2, "?:") == 0) {
      at_ += 2;
    } else if (more() && peek() == '?') {
      fail("look-arounds and other (? groups are not supported; (?: ) is");
      return node;
    } else {
      node.index = ++pattern_.groups_;
      if (pattern_.groups_ > kMostGroups) {
        fail("a pattern has at most " + std::to_string(kMostGroups) +
             " ( ) groups; (?: ) groups capture nothing and have no limit");
        return node;
      }
    }
    if (++depth_ > kDeepestGroups) {
      fail("groups are nested more than " + std::to_string(kDeepestGroups) + " deep");
      return node;
    }
    node.parts.push_back(alternatives());
    --depth_;
    if (!more() || peek() != ')') {
      fail("a ( is never closed");
      return node;
    }
    ++at_;
    return node;
  }

  // One byte of an escape that stands for a byte (\t \r \n \xHH, \ and a
  // punctuation mark); false when it is none of them.
  bool escapedByte(char c, unsigned char& byte) {
    switch (c) {
      case 't': byte = '\t'; return true;
      case 'r': byte = '\r'; return true;
      case 'n': byte = '\n'; return true;
      case 'f': byte = '\f'; return true;
      case 'v': byte = '\v'; return true;
      case '0': byte = 0; return true;
      case 'x': {
        const int high = at_ < text_.size() ? HexValue(text_[at_]) : -1;
        const int low = at_ + 1 < text_.size() ? HexValue(text_[at_ + 1]) : -1;
        if (high < 0 || low < 0) {
          fail("\\x must be followed by two hex digits");
          return false;
        }
        at_ += 2;
        byte = static_cast<unsigned char>(high * 16 + low);
        return true;
      }
      default:
        if (std::isalnum(static_cast<unsigned char>(c))) return false;
        byte = static_cast<unsigned char>(c);
        return true;
    }
  }

  Node escape() {
    Node node;
    if (at_ == text_.size()) {
      fail("the pattern ends with a \\");
      return node;
    }
    const char c = text_[at_++];
    if (std::string("dDwWsS").find(c) != std::string::npos) {
      node.kind = Node::Class;
      node.index = addClass(ClassOf(c));
    } else if (c == 'b' || c == 'B') {
      node.kind = c == 'b' ? Node::Boundary : Node::NotBoundary;
    } else if (c >= '1' && c <= '9') {
      fail(std::string("back references like \\") + c + " are not supported");
    } else if (escapedByte(c, node.byte)) {
      node.kind = Node::Byte;
    } else {
      fail(std::string("\\") + c + " is no escape of patterns (write \\\\ for a \\)");
    }
    return node;
  }

  Node characterClass() {
    Node node;
    node.kind = Node::Class;
    std::bitset<256> set;
    const bool negated = more() && peek() == '^';
    if (negated) ++at_;
    while (more() && peek() != ']') {
      std::bitset<256> item;
      int low = -1;
      if (!classItem(item, low)) return node;
      if (low >= 0 && more() && peek() == '-' && at_ + 1 < text_.size() && text_[at_ + 1] != ']') {
        ++at_;
        std::bitset<256> ignored;
        int high = -1;
        if (!classItem(ignored, high)) return node;
        if (high < 0) {
          fail("a range in [ ] must end with a byte, not a class like \\d");
          return node;
        }
        if (high < low) {
          fail("a range in [ ] goes backwards");
          return node;
        }
        for (int b = low; b <= high; ++b) set[b] = true;
      } else {
        set |= item;
      }
    }
    if (!more()) {
      fail("a [ is never closed");
      return node;
    }
    ++at_;
    node.index = addClass(negated ? ~set : set);
    return node;
  }

  // One byte (in `byte`) or one class escape (in `set`) of a [ ] class.
  bool classItem(std::bitset<256>& set, int& byte) {
    const char c = text_[at_++];
    if (c != '\\') {
      byte = static_cast<unsigned char>(c);
      set[byte] = true;
      return true;
    }
    if (at_ == text_.size()) {
      fail("the pattern ends with a \\");
      return false;
    }
    const char e = text_[at_++];
    if (std::string("dDwWsS").find(e) != std::string::npos) {
      set = ClassOf(e);
      return true;
    }
    unsigned char b = 0;
    if (e == 'b') {
      b = '\b';
    } else if (!escapedByte(e, b)) {
      fail(std::string("\\") + e + " is no escape of patterns (write \\\\ for a \\)");
      return false;
    }
    byte = b;
    set[b] = true;
    return true;
  }

  size_t addClass(const std::bitset<256>& set) {
    pattern_.classes_.push_back(set);
    return pattern_.classes_.size() - 1;
  }

  // Writes a step; false once the pattern has grown too large.
  size_t emit(const Pattern::Step& step) {
    if (pattern_.steps_.size() >= kMostPatternSteps) {
      fail("the pattern is too large: more than " + std::to_string(kMostPatternSteps) +
           " steps (repeat counts multiply the part they repeat)");
      return pattern_.steps_.size();
    }
    pattern_.steps_.push_back(step);
    return pattern_.steps_.size() - 1;
  }
  size_t here() const { return pattern_.steps_.size(); }
  void patch(size_t at, size_t x, size_t y) {
    if (at < pattern_.steps_.size()) {
      pattern_.steps_[at].x = x;
      pattern_.steps_[at].y = y;
    }
  }

  void compile(const Node& node) {
    if (!error_.empty()) return;
    using Op = Pattern::Op;
    switch (node.kind) {
      case Node::Empty: break;
      case Node::Byte: emit({Op::Byte, node.byte}); break;
      case Node::Any: emit({Op::Any}); break;
      case Node::Class: emit({Op::Class, 0, node.index}); break;
      case Node::Begin: emit({Op::Begin}); break;
      case Node::End: emit({Op::End}); break;
      case Node::Boundary: emit({Op::Boundary}); break;
      case Node::NotBoundary: emit({Op::NotBoundary}); break;
      case Node::Concat:
        for (const Node& part : node.parts) compile(part);
        break;
      case Node::Group:
        if (node.index != 0) emit({Op::Save, 0, 2 * node.index});
        compile(node.parts[0]);
        if (node.index != 0) emit({Op::Save, 0, 2 * node.index + 1});
        break;
      case Node::Alt: {
        std::vector<size_t> jumps;
        for (size_t k = 0; k < node.parts.size(); ++k) {
          const bool last = k + 1 == node.parts.size();
          const size_t split = last ? 0 : emit({Op::Split});
          compile(node.parts[k]);
          if (!last) {
            jumps.push_back(emit({Op::Jump}));
            patch(split, split + 1, here());
          }
        }
        for (size_t jump : jumps) patch(jump, here(), 0);
        break;
      }
      case Node::Repeat: repeat(node); break;
    }
  }

  // The part `least` times, then up to `most` - `least` optional copies (or
  // a loop), each tried first when greedy and last when lazy.
  void repeat(const Node& node) {
    using Op = Pattern::Op;
    const Node& part = node.parts[0];
    for (int k = 0; k < node.least && error_.empty(); ++k) compile(part);
    auto optional = [&](size_t split, size_t body, size_t out) {
      if (node.greedy) {
        patch(split, body, out);
      } else {
        patch(split, out, body);
      }
    };
    if (node.most < 0) {
      const size_t split = emit({Op::Split});
      compile(part);
      emit({Op::Jump, 0, split});
      optional(split, split + 1, here());
      return;
    }
    std::vector<size_t> splits;
    for (int k = node.least; k < node.most && error_.empty(); ++k) {
      splits.push_back(emit({Op::Split}));
      compile(part);
    }
    for (size_t split : splits) optional(split, split + 1, here());
  }

  const std::string& text_;
  Pattern& pattern_;
  size_t at_ = 0;
  size_t depth_ = 0;
  std::string error_;
};

bool Pattern::compile(const std::string& text, std::string& error, bool dotTakesEveryByte) {
  *this = Pattern();
  dotTakesEveryByte_ = dotTakesEveryByte;
  PatternCompiler compiler(text, *this);
  if (compiler.run(error)) return true;
  *this = Pattern();
  return false;
}

Pattern::Thread Pattern::seed() const {
  return {0, std::make_shared<const Captures>(2 * (groups_ + 1), -1)};
}

std::vector<Pattern::Thread> Pattern::close(const std::vector<Thread>& frontier, int position,
                                            int before, int at, Captures* match) const {
  std::vector<Thread> waiting;
  std::vector<char> seen(steps_.size(), 0);
  std::vector<Thread> stack;
  bool matched = false;
  for (const Thread& start : frontier) {
    stack.push_back(start);
    while (!stack.empty()) {
      Thread thread = std::move(stack.back());
      stack.pop_back();
      if (seen[thread.pc]) continue;
      seen[thread.pc] = 1;
      const Step& step = steps_[thread.pc];
      bool on = false;  // an assertion that holds lets the thread on
      switch (step.op) {
        case Op::Jump:
          thread.pc = step.x;
          stack.push_back(std::move(thread));
          continue;
        case Op::Split:
          stack.push_back({step.y, thread.captures});
          thread.pc = step.x;
          stack.push_back(std::move(thread));
          continue;
        case Op::Save: {
          auto saved = std::make_shared<Captures>(*thread.captures);
          (*saved)[step.x] = position;
          thread.captures = std::move(saved);
          on = true;
          break;
        }
        case Op::Begin: on = position == 0; break;
        case Op::End: on = at < 0; break;
        case Op::Boundary: on = IsWord(before) != IsWord(at); break;
        case Op::NotBoundary: on = IsWord(before) == IsWord(at); break;
        case Op::Match:
          if (match != nullptr && !matched) *match = *thread.captures;
          matched = true;
          continue;
        default:
          waiting.push_back(std::move(thread));
          continue;
      }
      if (on) {
        ++thread.pc;
        stack.push_back(std::move(thread));
      }
    }
  }
  if (match != nullptr && !matched) match->clear();
  return waiting;
}

std::vector<Pattern::Thread> Pattern::advance(const std::vector<Thread>& waiting,
                                              unsigned char byte) const {
  std::vector<Thread> next;
  for (const Thread& thread : waiting) {
    const Step& step = steps_[thread.pc];
    const bool takes = step.op == Op::Byte    ? step.byte == byte
                       : step.op == Op::Any   ? dotTakesEveryByte_ || (byte != '\n' && byte != '\r')
                       : step.op == Op::Class ? classes_[step.x][byte]
                                              : false;
    if (takes) next.push_back({thread.pc + 1, thread.captures});
  }
  return next;
}

bool Pattern::matchWhole(const std::string& text, Captures& captures) const {
  if (steps_.empty()) return false;
  std::vector<Thread> frontier{seed()};
  int before = -1;
  for (size_t k = 0; k < text.size(); ++k) {
    const unsigned char byte = static_cast<unsigned char>(text[k]);
    frontier = advance(close(frontier, static_cast<int>(k), before, byte, nullptr), byte);
    if (frontier.empty()) return false;
    before = byte;
  }
  close(frontier, static_cast<int>(text.size()), before, -1, &captures);
  return !captures.empty();
}

void Pattern::Tail::reset() {
  frontier_.clear();
  position_ = 0;
  before_ = -1;
  if (!pattern_->steps_.empty()) frontier_.push_back(pattern_->seed());
}

bool Pattern::Tail::feed(unsigned char byte, Captures& captures) {
  if (frontier_.empty()) return false;
  frontier_ = pattern_->advance(pattern_->close(frontier_, position_, before_, byte, nullptr), byte);
  ++position_;
  before_ = byte;
  // A match may also start here: after every earlier start, so the one that
  // starts leftmost is preferred.
  frontier_.push_back(pattern_->seed());
  pattern_->close(frontier_, position_, before_, -1, &captures);
  return !captures.empty();
}

std::string ExpandAnswer(const std::string& answer, const std::string& text,
                         const Captures& captures, size_t groups) {
  std::string out;
  auto part = [&](size_t group) {
    const int start = 2 * group + 1 < captures.size() ? captures[2 * group] : -1;
    const int end = 2 * group + 1 < captures.size() ? captures[2 * group + 1] : -1;
    if (start >= 0 && end >= start && static_cast<size_t>(end) <= text.size()) {
      out.append(text, static_cast<size_t>(start), static_cast<size_t>(end - start));
    }
  };
  for (size_t k = 0; k < answer.size(); ++k) {
    const char next = k + 1 < answer.size() ? answer[k + 1] : '\0';
    if (answer[k] != '$') {
      out += answer[k];
    } else if (next == '$') {
      out += '$';
      ++k;
    } else if (next == '&') {
      part(0);
      ++k;
    } else if (next >= '1' && next <= '9' && static_cast<size_t>(next - '0') <= groups) {
      // Two digits when the pattern has that many groups ($12), else one.
      const char second = k + 2 < answer.size() ? answer[k + 2] : '\0';
      const size_t two = (next - '0') * 10 + (second - '0');
      const bool both = second >= '0' && second <= '9' && two <= groups;
      part(both ? two : static_cast<size_t>(next - '0'));
      k += both ? 2 : 1;
    } else {
      out += '$';
    }
  }
  return out;
}

}  // namespace nbdevice

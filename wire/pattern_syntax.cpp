#include "pattern_syntax.h"

#include <cctype>

#include "wire/text.h"

namespace nbdevice {
namespace {

// The longest count a repeat may give ({n}, {n,m}).
constexpr int kMostRepeats = 1000;

// \d \w \s and their capitals.
ByteClass NamedClass(char letter) {
  ByteClass set;
  for (int b = 0; b < 256; ++b) {
    const bool in = letter == 'd' || letter == 'D'   ? (b >= '0' && b <= '9')
                    : letter == 'w' || letter == 'W' ? IsWordByte(b)
                                                     : (b == ' ' || (b >= '\t' && b <= '\r'));
    set[b] = in;
  }
  return std::isupper(static_cast<unsigned char>(letter)) ? ~set : set;
}

// Reads a pattern by recursive descent, one part after another; stops at
// the first fault, which it keeps.
class Parser {
 public:
  Parser(const std::string& text, PatternTree& tree) : text_(text), tree_(tree) {}

  bool run(std::string& error) {
    tree_.root = alternatives();
    if (error_.empty() && at_ < text_.size()) fail("a ) has no ( before it");
    error = error_;
    return error_.empty();
  }

 private:
  bool more() const { return at_ < text_.size() && error_.empty(); }
  char peek() const { return text_[at_]; }
  void fail(const std::string& why) {
    if (error_.empty()) error_ = why;
  }

  PatternNode alternatives() {
    PatternNode first = sequence();
    if (!more() || peek() != '|') return first;
    PatternNode alt;
    alt.kind = PatternNode::Alt;
    alt.parts.push_back(std::move(first));
    while (more() && peek() == '|') {
      ++at_;
      alt.parts.push_back(sequence());
    }
    return alt;
  }

  PatternNode sequence() {
    PatternNode seq;
    seq.kind = PatternNode::Concat;
    while (more() && peek() != '|' && peek() != ')') seq.parts.push_back(repeated());
    return seq;
  }

  PatternNode repeated() {
    PatternNode atom = this->atom();
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
      if (atom.kind == PatternNode::Begin || atom.kind == PatternNode::End || atom.kind == PatternNode::Boundary ||
          atom.kind == PatternNode::NotBoundary) {
        fail(std::string("there is nothing to repeat before ") + c);
        return atom;
      }
      PatternNode repeat;
      repeat.kind = PatternNode::Repeat;
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

  PatternNode atom() {
    PatternNode node;
    const char c = text_[at_++];
    switch (c) {
      case '(': return group();
      case '[': return characterClass();
      case '.': node.kind = PatternNode::Any; return node;
      case '^': node.kind = PatternNode::Begin; return node;
      case '$': node.kind = PatternNode::End; return node;
      case '*': case '+': case '?': case '{':
        fail(std::string("there is nothing to repeat before ") + c);
        return node;
      case '\\': return escape();
      default:
        node.kind = PatternNode::Byte;
        node.byte = static_cast<unsigned char>(c);
        return node;
    }
  }

  PatternNode group() {
    PatternNode node;
    node.kind = PatternNode::Group;
    if (text_.compare(at_, 2, "?:") == 0) {
      at_ += 2;
    } else if (more() && peek() == '?') {
      fail("look-arounds and other (? groups are not supported; (?: ) is");
      return node;
    } else {
      node.index = ++tree_.groups;
      if (tree_.groups > kMostGroups) {
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
        const int high = at_ < text_.size() ? nbwire::HexDigit(text_[at_]) : -1;
        const int low = at_ + 1 < text_.size() ? nbwire::HexDigit(text_[at_ + 1]) : -1;
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

  // The character after a \ at at_; false at the pattern's end.
  bool escaped(char& c) {
    if (at_ == text_.size()) {
      fail("the pattern ends with a \\");
      return false;
    }
    c = text_[at_++];
    return true;
  }
  static bool NamesClass(char c) { return std::string("dDwWsS").find(c) != std::string::npos; }

  PatternNode escape() {
    PatternNode node;
    char c = 0;
    if (!escaped(c)) return node;
    if (NamesClass(c)) {
      node.kind = PatternNode::Class;
      node.index = addClass(NamedClass(c));
    } else if (c == 'b' || c == 'B') {
      node.kind = c == 'b' ? PatternNode::Boundary : PatternNode::NotBoundary;
    } else if (c >= '1' && c <= '9') {
      fail(std::string("back references like \\") + c + " are not supported");
    } else if (escapedByte(c, node.byte)) {
      node.kind = PatternNode::Byte;
    } else {
      fail(std::string("\\") + c + " is no escape of patterns (write \\\\ for a \\)");
    }
    return node;
  }

  PatternNode characterClass() {
    PatternNode node;
    node.kind = PatternNode::Class;
    ByteClass set;
    const bool negated = more() && peek() == '^';
    if (negated) ++at_;
    while (more() && peek() != ']') {
      ByteClass item;
      int low = -1;
      if (!classItem(item, low)) return node;
      if (low >= 0 && more() && peek() == '-' && at_ + 1 < text_.size() && text_[at_ + 1] != ']') {
        ++at_;
        ByteClass ignored;
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
  bool classItem(ByteClass& set, int& byte) {
    const char c = text_[at_++];
    if (c != '\\') {
      byte = static_cast<unsigned char>(c);
      set[byte] = true;
      return true;
    }
    char e = 0;
    if (!escaped(e)) return false;
    if (NamesClass(e)) {
      set = NamedClass(e);
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

  size_t addClass(const ByteClass& set) {
    tree_.classes.push_back(set);
    return tree_.classes.size() - 1;
  }

  const std::string& text_;
  PatternTree& tree_;
  size_t at_ = 0;
  size_t depth_ = 0;
  std::string error_;
};

}  // namespace

bool IsWordByte(int byte) { return byte >= 0 && (std::isalnum(byte) || byte == '_'); }

bool ParsePattern(const std::string& text, PatternTree& tree, std::string& error) {
  tree = PatternTree();
  return Parser(text, tree).run(error);
}

}  // namespace nbdevice

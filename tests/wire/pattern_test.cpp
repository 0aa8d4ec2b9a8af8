// The patterns of device files against std::regex (ECMAScript, the rules
// of JavaScript's regular expressions that the guide names): on a table of
// patterns both take and of requests, a whole request and every match that
// ends as the bytes come must be found alike, with the same groups. And the
// machine takes no memory as the bytes come. This program has a suite of
// its own because it counts the allocations of the whole program.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <regex>
#include <string>
#include <vector>

#include "wire/pattern.h"

namespace {
std::atomic<long> allocations{0};
}  // namespace

// The compiler takes free() here for the wrong release of what new gave.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  ++allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

using nbdevice::Captures;
using nbdevice::Pattern;

// Patterns that both engines take, each with the shape of fault it would
// show: preference among ways, greedy against lazy, classes, anchors and
// word boundaries, groups that take no part, repeats of groups.
const char* const kPatterns[] = {
    "(a*)(a*)",
    "(a*?)(a*)",
    "(a|ab)(c|bcd)(d*)",
    "(\\d+)-(\\d{2,3})",
    "x(?:ab)+(y)?",
    "(a)|b",
    "\\bID\\b [^,]+,(\\w\\w)",
    "^\\s*[+-]?\\d+\\.\\d+$",
    "(a+)+b",
    "(.*)(\\d+)",
    "(.*?)(\\d+)",
    "(a|b)*?c",
    "([^\\r\\n]*)\\r?\\n",
    "(x{2,})(x*)",
    "(x{1,3}?)(x+)",
    "\\B\\w+\\b",
    "S(\\d{1,3})?",
    "a{0}b",
    "(ab|a)(bc|c)?",
    "ID(\\s+)(\\S*)",
    "[a-c\\d]+(\\W)",
    "(\\x41|\\t)+",
    "$",
    "^$",
    "a|^b",
    "(?:a|(b))c",
    ".+",
    "(.)(.)?b?",
    "(?:(a)|(b))+",
    "(?:(a)|b)*c",
};

const char* const kRequests[] = {
    "", "a", "aa", "aaab", "ab", "abc", "abcd", "xabab", "xababy", "12-345", "ID kg,GS",
    " -12.5", "b", "ac", "abbc", "line\r\n", "S12", "S1234", "xxxxx", "x\ny", "ID x",
    "ID  \t7", "cab1!", "A\tA", "bc", "9 8", "\xE9t\xE9", "\r", "ID",
};

// Where group k matched, as Captures hold it.
Captures FromRegex(const std::cmatch& m, const char* begin, size_t groups) {
  Captures captures(2 * (groups + 1), -1);
  for (size_t k = 0; k <= groups && k < m.size(); ++k) {
    if (!m[k].matched) continue;
    captures[2 * k] = static_cast<int>(m[k].first - begin);
    captures[2 * k + 1] = static_cast<int>(m[k].second - begin);
  }
  return captures;
}

// The match ECMAScript finds that ends at `end`, starting leftmost: the
// bytes before it seen by ^ and \b, as the growing match sees them.
bool RegexTail(const std::regex& re, const std::string& text, size_t end, size_t groups, Captures& out) {
  const char* begin = text.data();
  for (size_t start = 0; start <= end; ++start) {
    std::cmatch m;
    const auto flags = start == 0 ? std::regex_constants::match_default : std::regex_constants::match_prev_avail;
    if (std::regex_match(begin + start, begin + end, m, re, flags)) {
      out = FromRegex(m, begin, groups);
      return true;
    }
  }
  return false;
}

bool Compiled(const char* source, Pattern& pattern) {
  std::string error;
  EXPECT_TRUE(pattern.compile(source, error)) << source << ": " << error;
  return error.empty();
}

std::string Shown(const std::string& text) {
  std::string shown;
  for (unsigned char c : text) {
    shown += c >= 0x20 && c < 0x7F ? std::string(1, static_cast<char>(c)) : "\\x" + std::to_string(c);
  }
  return "\"" + shown + "\"";
}

TEST(PatternAgainstEcmaScript, WholeRequestsMatchAlikeWithTheSameGroups) {
  for (const char* source : kPatterns) {
    Pattern pattern;
    ASSERT_TRUE(Compiled(source, pattern));
    const std::regex re(source, std::regex_constants::ECMAScript);
    ASSERT_EQ(pattern.groups(), re.mark_count()) << source;
    for (const std::string request : kRequests) {
      Captures ours;
      std::cmatch m;
      const bool theirs = std::regex_match(request.c_str(), request.c_str() + request.size(), m, re);
      ASSERT_EQ(pattern.matchWhole(request, ours), theirs) << source << " on " << Shown(request);
      if (theirs) {
        EXPECT_EQ(ours, FromRegex(m, request.c_str(), pattern.groups())) << source << " on " << Shown(request);
      }
    }
  }
}

TEST(PatternAgainstEcmaScript, GrowingMatchesEndWhereTheLeftmostMatchEnds) {
  for (const char* source : kPatterns) {
    Pattern pattern;
    ASSERT_TRUE(Compiled(source, pattern));
    const std::regex re(source, std::regex_constants::ECMAScript);
    Pattern::Tail tail(pattern);
    for (const std::string request : kRequests) {
      tail.reset();
      for (size_t end = 1; end <= request.size(); ++end) {
        Captures ours, theirs;
        const bool found = RegexTail(re, request, end, pattern.groups(), theirs);
        ASSERT_EQ(tail.feed(static_cast<unsigned char>(request[end - 1]), ours), found)
            << source << " on " << Shown(request.substr(0, end));
        if (found) {
          EXPECT_EQ(ours, theirs) << source << " on " << Shown(request.substr(0, end));
        }
      }
    }
  }
}

// Where ECMAScript empties a group at each round of the repeat around it,
// ours keeps what the group took in an earlier round (std::regex does too).
TEST(PatternAgainstEcmaScript, GroupsInARepeatKeepWhatAnEarlierRoundTook) {
  Pattern pattern;
  std::string error;
  ASSERT_TRUE(pattern.compile("(?:(a)|b)+", error)) << error;
  Captures captures;
  ASSERT_TRUE(pattern.matchWhole("ab", captures));
  EXPECT_EQ(captures, (Captures{0, 2, 0, 1}));
}

// Bytes fed one at a time take no memory once the match has begun, and a
// whole request takes the same however long it is.
TEST(PatternMemory, MatchingAllocatesNothingPerByte) {
  Pattern pattern;
  std::string error;
  ASSERT_TRUE(pattern.compile("(?:ST|US),(\\w+),\\s*([+-]?\\d+(?:\\.\\d+)?)\\s*(kg|g)\\r\\n", error)) << error;
  Pattern::Tail tail(pattern);
  Captures captures;
  const std::string reading = "ST,GS,  +12.50 kg\r\n";
  for (char c : reading) tail.feed(static_cast<unsigned char>(c), captures);
  ASSERT_FALSE(captures.empty());
  const long before = allocations;
  int matches = 0;
  for (int k = 0; k < 200; ++k) {
    for (char c : reading) matches += tail.feed(static_cast<unsigned char>(c), captures) ? 1 : 0;
  }
  EXPECT_EQ(allocations - before, 0);
  EXPECT_EQ(matches, 200);

  const std::string shortRequest = "ST,GS,1kg\r\n";
  const std::string longRequest = "ST,GS," + std::string(5000, '1') + "kg\r\n";
  const long start = allocations;
  ASSERT_TRUE(pattern.matchWhole(shortRequest, captures));
  const long forShort = allocations - start;
  ASSERT_TRUE(pattern.matchWhole(longRequest, captures));
  EXPECT_EQ(allocations - start - forShort, forShort);
}

}  // namespace

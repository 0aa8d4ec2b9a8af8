// What a played device computes as it answers: the {...} templates of its
// answer texts (values a request set, counters, numbers that wander, the
// time of day, checksums over what the answer sent, numbers from a binary
// request written as bytes), the values and tables they read, and the one
// random generator every random choice of a device draws from.
//
// A template is read when the file is loaded, so a mistake in one is
// refused with its line; it is filled in when its answer is made. {{ is a
// literal {, and a { followed by none of a letter, # and $ is itself (JSON
// such as {"t":1} needs no escape).
// Pure code: no Windows here.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "codes/checksums.h"
#include "wire/pattern.h"

namespace nbdevice {

// A number format's widest width and most decimals, and the longest
// expression a template may hold: far more than a device's field needs.
constexpr int kWidestNumber = 32;
constexpr int kMostDecimals = 9;
constexpr size_t kLongestExpression = 200;

// splitmix64: small, fast, and the same sequence on every platform and
// compiler, so a seed replays a run exactly (std::rand's sequence is the C
// library's own).
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t next();
  // A number from 0 to `count` - 1 (0 when `count` is 0).
  uint64_t below(uint64_t count) { return count == 0 ? 0 : next() % count; }
  // A number from `low` to `high`, both included.
  uint32_t between(uint32_t low, uint32_t high) {
    return high <= low ? low : low + static_cast<uint32_t>(below(uint64_t(high) - low + 1));
  }
  // A number from 0 up to but not including 1.
  double unit() { return static_cast<double>(next() >> 11) / 9007199254740992.0; }

 private:
  uint64_t state_;
};

// A printf-like number format read by this code (the author's text never
// reaches printf): %[-+0 ][width][.precision](d|u|x|X|f).
struct NumberFormat {
  char conversion = 'd';
  bool left = false, plus = false, zeros = false, space = false;
  int width = 0;
  int precision = -1;  // -1: none given (6 for f)
};
// Reads a whole format; false when `text` is not one.
bool ReadNumberFormat(const std::string& text, NumberFormat& format);
std::string FormatNumber(double value, const NumberFormat& format);

// A number written without blanks, from decimal numbers, 0x hexadecimal
// ones, #N (capture N's bytes as a big-endian number; #Nle little-endian),
// $N (capture N's text as a decimal number) and names (a value read as a
// decimal number), with + - * / (whole numbers, / rounds toward zero) and
// parentheses.
struct Expression {
  struct Step {
    enum Kind : uint8_t { Number, Capture, CaptureLe, CaptureText, Name, Add, Sub, Mul, Div } kind = Number;
    int64_t number = 0;  // Number's value, or the capture
    std::string name;
  };
  std::vector<Step> steps;  // in postfix order
};

struct Table {
  uint32_t first = 0;
  std::vector<int64_t> entries;
};

// What templates read and write: values by name (set "sp" "50"), tables
// (table "hr" 0..15 = ...), and where each walk has got to.
struct DeviceState {
  std::map<std::string, std::string> values;
  std::map<std::string, Table> tables;
  std::vector<double> walks;
};

// One part of an answer text.
struct Field {
  enum class Kind : uint8_t { Literal, Value, Capture, Number, Binary, TableBinary, Count, Walk, Time, Date, Check };
  Kind kind = Kind::Literal;
  std::string text;  // Literal: its bytes; Value, Count: the name; TableBinary: the table; Time, Date: the form
  Expression value;  // Number, Binary: the number; TableBinary: the first index
  Expression count;  // TableBinary: how many entries
  NumberFormat format;
  int bytes = 0;        // Binary, TableBinary: 1, 2 or 4
  bool little = false;  // Binary, TableBinary: low byte first
  // Walk: where it starts, its largest step and its range; its place in DeviceState::walks.
  double start = 0, step = 0, low = 0, high = 0;
  size_t walk = 0;
  // Check: over the answer's bytes before it from `from` on; hex: as hex digits.
  wlcodes::Checksum check = wlcodes::Checksum::Sum8;
  uint32_t from = 0;
  bool hex = false;
};

struct Template {
  std::vector<Field> fields;
};

// Reads `text` as a template; false with the reason. `walks` counts the
// walks read so far in the file (each keeps its own place).
bool ReadTemplate(const std::string& text, Template& made, size_t& walks, std::string& why);

// The names a template reads (values and tables), for the load-time check
// that each is set somewhere.
void NamesRead(const Template& made, std::vector<std::string>& values, std::vector<std::string>& tables);

// What an answer is made from: the request it answers (with its pattern's
// captures and group count; null for none), the state, the generator, the
// time of day (milliseconds since 1970-01-01 UTC) and the bytes the answer
// has made so far (the checksums' span).
struct Making {
  const std::string* request = nullptr;
  const Captures* captures = nullptr;
  size_t groups = 0;
  DeviceState* state = nullptr;
  Random* random = nullptr;
  int64_t utcMs = 0;
};

// Appends the template's bytes to `sent`; false when it cannot be made (a
// table read outside its entries, a division by 0, a name that holds no
// number): the answer is not given.
bool Fill(const Template& made, const Making& making, std::string& sent);

// The number an expression gives; false when it cannot be made.
bool Evaluate(const Expression& expression, const Making& making, int64_t& value);

}  // namespace nbdevice

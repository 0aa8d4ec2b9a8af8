#include "device_file.h"

#include <cctype>

#include "wire/pattern.h"
#include "wire/text.h"

namespace nbdevice {
namespace {

// A word or a quoted text of a statement.
struct Token {
  bool quoted = false;
  std::string text;  // the bytes of a quoted text, the word otherwise
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// Splits a line into tokens up to a # outside quotes; false (with `why`)
// on an unclosed quote or a bad escape.
bool Tokenize(const std::string& line, std::vector<Token>& tokens, std::string& why) {
  size_t at = 0;
  while (true) {
    while (at < line.size() && IsBlank(line[at])) ++at;
    if (at == line.size() || line[at] == '#') return true;
    Token token;
    if (line[at] == '"') {
      std::string shown;
      for (++at; at < line.size() && line[at] != '"'; ++at) {
        shown += line[at];
        if (line[at] == '\\' && at + 1 < line.size()) shown += line[++at];
      }
      if (at == line.size()) {
        why = "a double quote is never closed";
        return false;
      }
      ++at;
      token.quoted = true;
      if (!Unescape(shown, token.text)) {
        why = "a \\ in \"" + shown + "\" is not one of \\r \\n \\t \\\\ \\\" \\xHH";
        return false;
      }
    } else {
      const size_t start = at;
      while (at < line.size() && !IsBlank(line[at]) && line[at] != '"' && line[at] != '#') ++at;
      token.text = line.substr(start, at - start);
    }
    tokens.push_back(token);
  }
}

// Reads tokens of one statement from left to right.
class Reader {
 public:
  explicit Reader(const std::vector<Token>& tokens) : tokens_(tokens) {}

  bool done() const { return at_ == tokens_.size(); }
  bool word(const char* expected) {
    if (done() || tokens_[at_].quoted || tokens_[at_].text != expected) return false;
    ++at_;
    return true;
  }
  bool text(std::string& out) {
    if (done() || !tokens_[at_].quoted) return false;
    out = tokens_[at_++].text;
    return true;
  }
  // A whole number of milliseconds, 0 to 999,999,999.
  bool number(uint32_t& out) {
    if (done() || tokens_[at_].quoted) return false;
    const std::string& digits = tokens_[at_].text;
    if (digits.empty() || digits.size() > 9) return false;  // at most kMostMilliseconds
    for (char c : digits) {
      if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    }
    out = static_cast<uint32_t>(std::stoul(digits));
    ++at_;
    return true;
  }
  std::string next() const { return done() ? "the end of the line" : "\"" + tokens_[at_].text + "\""; }
  // Whether the token `ahead` of the next is the word `expected` (nothing
  // is read).
  bool ahead(size_t ahead, const char* expected) const {
    const size_t at = at_ + ahead;
    return at < tokens_.size() && !tokens_[at].quoted && tokens_[at].text == expected;
  }

 private:
  const std::vector<Token>& tokens_;
  size_t at_ = 0;
};

// "close" ends an answer: nothing may follow it (a device that closed
// hears nothing more, so a mode it would change to could not matter).
bool ReadClose(Reader& reader, Piece& piece, std::string& why) {
  piece.close = true;
  if (reader.done()) return true;
  why = "nothing may follow close";
  return false;
}

// then "MODE" at the end of a rule's answer.
bool ReadThen(Reader& reader, std::string* then, std::string& why) {
  if (then == nullptr) {
    why = "only a request's answer may change the mode (then)";
    return false;
  }
  if (!reader.text(*then) || then->empty() || !reader.done()) {
    why = "then takes the name of a mode in quotes, last on the line";
    return false;
  }
  return true;
}

// After "plug": "in", alone. The device is put back in its port.
bool ReadPlugIn(Reader& reader, Answer& answer, std::string& why) {
  Piece piece;
  piece.plugIn = true;
  answer.push_back(piece);
  if (reader.word("in") && reader.done()) return true;
  why = "plug takes in, and nothing after it";
  return false;
}

// After "unplug": perhaps "error N", then perhaps "then plug in after MS".
// The device is taken from its port (and put back).
bool ReadUnplug(Reader& reader, Answer& answer, std::string& why) {
  Piece piece;
  piece.unplug = true;
  if (reader.word("error") && (!reader.number(piece.error) || piece.error == 0)) {
    why = "error takes the Windows error the port's calls fail with, 1 to 999999999 (22, 1617)";
    return false;
  }
  answer.push_back(piece);
  if (reader.word("then")) {
    Piece back;
    back.plugIn = true;
    if (!reader.word("plug") || !reader.word("in") || !reader.word("after") ||
        !reader.number(back.waitMs) || !reader.done()) {
      why = "unplug then takes plug in after and a number of milliseconds, last on the line";
      return false;
    }
    answer.push_back(back);
  }
  if (reader.done()) return true;
  why = "unplug takes only error N and then plug in after MS, not " + reader.next();
  return false;
}

// The words of the line's events that may stand in an answer.
bool LineEventNext(const Reader& reader) {
  return reader.ahead(0, "fault") || reader.ahead(0, "modem") || reader.ahead(0, "reset") ||
         reader.ahead(0, "restart");
}

struct FaultWord {
  const char* word;
  LineFault fault;
};
constexpr FaultWord kFaultWords[] = {{"parity", LineFault::Parity},
                                     {"framing", LineFault::Framing},
                                     {"overrun", LineFault::Overrun},
                                     {"break", LineFault::Break}};
struct ModemWord {
  const char* word;
  uint8_t line;
};
constexpr ModemWord kModemWords[] = {{"cts", kCtsLine}, {"dsr", kDsrLine}, {"dcd", kDcdLine}, {"ring", kRingLine}};

// After "fault": which one.
bool ReadFault(Reader& reader, Piece& piece, std::string& why) {
  for (const FaultWord& f : kFaultWords) {
    if (!reader.word(f.word)) continue;
    piece.fault = f.fault;
    return true;
  }
  why = "fault takes parity, framing, overrun or break, not " + reader.next();
  return false;
}

// After "modem": one or more lines, each with on or off.
bool ReadModem(Reader& reader, Piece& piece, std::string& why) {
  bool named = true, paired = true;
  while (named && paired) {
    named = false;
    for (const ModemWord& m : kModemWords) {
      if (!reader.word(m.word)) continue;
      const bool on = reader.word("on");
      paired = on || reader.word("off");
      piece.modem.mask |= m.line;
      piece.modem.on = static_cast<uint8_t>(on ? piece.modem.on | m.line : piece.modem.on & ~m.line);
      named = true;
      break;
    }
  }
  if (paired && piece.modem.mask != 0) return true;
  why = "modem takes cts, dsr, dcd or ring, each followed by on or off";
  return false;
}

// One of the line's events: fault KIND, modem LINE on|off..., reset or
// restart (either last in the answer).
bool ReadLineEvent(Reader& reader, Piece& piece, std::string& why) {
  if (reader.word("fault")) return ReadFault(reader, piece, why);
  if (reader.word("modem")) return ReadModem(reader, piece, why);
  piece.reset = reader.word("reset");
  piece.restart = !piece.reset && reader.word("restart");
  if (reader.done()) return true;
  why = std::string(piece.reset ? "reset" : "restart") + " ends an answer: nothing may follow it";
  return false;
}

// "send" followed by texts and "wait MS", perhaps ending in "close"; or
// "silent", or "close" alone; or "unplug ..." or "plug in". then "MODE"
// may end a request's answer that does not close (`then` null: not
// allowed).
bool ReadAnswer(Reader& reader, Answer& answer, std::string& why, std::string* then = nullptr) {
  if (reader.word("silent")) {
    if (reader.done()) return true;
    if (reader.word("then")) return ReadThen(reader, then, why);
    why = "nothing may follow silent but then";
    return false;
  }
  if (reader.word("close")) {
    answer.emplace_back();
    return ReadClose(reader, answer.back(), why);
  }
  if (reader.word("unplug")) return ReadUnplug(reader, answer, why);
  if (reader.word("plug")) return ReadPlugIn(reader, answer, why);
  if (!reader.word("send") && !LineEventNext(reader)) {
    why = "expected send, silent or close, found " + reader.next();
    return false;
  }
  while (!reader.done()) {
    Piece piece;
    if (reader.word("then")) {
      if (!ReadThen(reader, then, why)) return false;
      break;
    }
    if (reader.word("wait")) {
      if (!reader.number(piece.waitMs)) {
        why = "wait takes a number of milliseconds, 0 to 999999999";
        return false;
      }
      if (reader.word("close")) {
        answer.push_back(piece);
        return ReadClose(reader, answer.back(), why);
      }
      if (LineEventNext(reader)) {
        if (!ReadLineEvent(reader, piece, why)) return false;
      } else if (!reader.text(piece.bytes)) {
        why = "a wait must be followed by a text or close";
        return false;
      }
    } else if (reader.word("close")) {
      answer.push_back(piece);
      return ReadClose(reader, answer.back(), why);
    } else if (LineEventNext(reader)) {
      if (!ReadLineEvent(reader, piece, why)) return false;
    } else if (!reader.text(piece.bytes)) {
      why = "expected a text, wait or close, found " + reader.next();
      return false;
    }
    answer.push_back(piece);
  }
  if (answer.empty()) why = "send takes at least one text (or write silent)";
  return !answer.empty();
}

// "end" then "none" or one or more texts.
bool ReadEnds(Reader& reader, std::vector<std::string>& ends, std::string& why) {
  ends.clear();
  if (!reader.word("end")) {
    why = "expected end, found " + reader.next();
    return false;
  }
  if (reader.word("none") && reader.done()) return true;
  std::string text;
  while (reader.text(text)) {
    if (text.empty()) {
      why = "an ending cannot be empty (write none)";
      return false;
    }
    ends.push_back(text);
  }
  if (!reader.done() || ends.empty()) why = "end takes texts in quotes, or none";
  return reader.done() && !ends.empty();
}

bool ReadRule(Reader& reader, RequestKind kind, const std::string& mode, int line,
              DeviceFile& device, std::string& why) {
  Rule rule;
  rule.kind = kind;
  rule.mode = mode;
  rule.line = line;
  if (kind != RequestKind::Otherwise && !reader.text(rule.request)) {
    why = "expected the request in quotes, found " + reader.next();
    return false;
  }
  if (kind == RequestKind::Exact && rule.request.empty()) {
    why = "on \"\" is never heard (empty requests are not requests); use otherwise";
    return false;
  }
  Pattern pattern;
  if (kind == RequestKind::Pattern && !pattern.compile(rule.request, why)) {
    why = "the pattern " + Quoted(rule.request) + " cannot be used: " + why;
    return false;
  }
  if (kind == RequestKind::Otherwise) {
    for (const Rule& other : device.rules) {
      if (other.kind != RequestKind::Otherwise || other.mode != mode) continue;
      why = "a second otherwise" + (mode.empty() ? "" : " in " + Quoted(mode)) +
            " (the first is on line " + std::to_string(other.line) + ")";
      return false;
    }
  }
  if (!ReadAnswer(reader, rule.answer, why, &rule.then)) return false;
  device.rules.push_back(rule);
  return true;
}

// on dtr on, on dtr off, on rts on, on rts off: what the device does when
// the host changes that line.
bool ReadHostLineRule(Reader& reader, const std::string& mode, int line, DeviceFile& device,
                      std::string& why) {
  Rule rule;
  rule.kind = RequestKind::HostLine;
  rule.mode = mode;
  rule.line = line;
  reader.word("on");
  const std::string signal = reader.ahead(0, "dtr") ? "dtr" : "rts";
  reader.word(signal.c_str());
  const bool on = reader.word("on");
  if (!on && !reader.word("off")) {
    why = "on " + signal + " takes on or off";
    return false;
  }
  rule.request = signal + (on ? " on" : " off");
  if (!ReadAnswer(reader, rule.answer, why, &rule.then)) return false;
  device.rules.push_back(rule);
  return true;
}

// refuse first N, window N: how a played server takes its connections.
bool ReadServerStatement(Reader& reader, DeviceFile& device, std::string& why) {
  if (reader.word("refuse")) {
    if (reader.word("first") && reader.number(device.refuseFirst) && reader.done()) return true;
    why = "refuse takes first and a number of connects, 0 to 999999999";
    return false;
  }
  reader.word("window");
  if (reader.number(device.window) && device.window != 0 && reader.done()) return true;
  why = "window takes the bytes that may wait unread in the connection, 1 to 999999999";
  return false;
}

bool ReadTimed(Reader& reader, DeviceFile& device, std::string& why) {
  Timed timed;
  bool at = false;
  if (reader.word("at")) {
    at = true;
    if (!reader.number(timed.atMs)) {
      why = "at takes a number of milliseconds, 0 to 999999999";
      return false;
    }
  }
  if (reader.word("every")) {
    if (!reader.number(timed.everyMs) || timed.everyMs == 0) {
      why = "every takes a number of milliseconds, 1 to 999999999";
      return false;
    }
    if (!at) timed.atMs = timed.everyMs;
  }
  if (!ReadAnswer(reader, timed.answer, why)) return false;
  if (timed.answer.empty()) {
    why = "timed output must send something";
    return false;
  }
  device.timed.push_back(timed);
  return true;
}

bool ReadStatement(const std::vector<Token>& tokens, int line, DeviceFile& device, std::string& why) {
  Reader reader(tokens);
  if (reader.word("requests")) return ReadEnds(reader, device.requestEnds, why);
  if (reader.word("answers")) {
    std::vector<std::string> ends;
    if (!ReadEnds(reader, ends, why)) return false;
    if (ends.size() > 1) {
      why = "answers end takes one text";
      return false;
    }
    device.answerEnd = ends.empty() ? std::string() : ends[0];
    return true;
  }
  if (reader.word("line")) {
    if (reader.word("rate") && (reader.word("none") || reader.word("port")) && reader.done()) {
      device.paced = tokens[2].text == "port";
      return true;
    }
    why = "line takes rate port or rate none";
    return false;
  }
  if (reader.word("baud")) {
    if (reader.number(device.baud) && device.baud != 0 && reader.done()) return true;
    why = "baud takes the rate the device talks at, 1 to 999999999";
    return false;
  }
  if (reader.word("starts")) {
    if (reader.word("in") && reader.text(device.startMode) && !device.startMode.empty() &&
        reader.done()) {
      return true;
    }
    why = "starts takes in and the name of a mode in quotes";
    return false;
  }
  std::string mode;
  if (reader.word("in") && (!reader.text(mode) || mode.empty())) {
    why = "in takes the name of a mode in quotes";
    return false;
  }
  if (reader.ahead(0, "on") && (reader.ahead(1, "dtr") || reader.ahead(1, "rts"))) {
    return ReadHostLineRule(reader, mode, line, device, why);
  }
  if (reader.word("on")) return ReadRule(reader, RequestKind::Exact, mode, line, device, why);
  if (reader.word("match")) return ReadRule(reader, RequestKind::Pattern, mode, line, device, why);
  if (reader.word("otherwise")) return ReadRule(reader, RequestKind::Otherwise, mode, line, device, why);
  if (!mode.empty()) {
    why = "in \"" + mode + "\" must be followed by on, match or otherwise, not " + reader.next();
    return false;
  }
  if (!tokens[0].quoted && (tokens[0].text == "at" || tokens[0].text == "every")) {
    return ReadTimed(reader, device, why);
  }
  if (reader.ahead(0, "refuse") || reader.ahead(0, "window")) return ReadServerStatement(reader, device, why);
  why = "a line starts with requests, answers, on, match, otherwise, in, starts, at, every, "
        "line or baud, not " + reader.next();
  return false;
}

// Gives the pieces the statement on `line` added (to the last rule or
// timed output) that line, for the notes of what was played.
void StampLine(DeviceFile& device, int line) {
  auto stamp = [line](Answer& answer) {
    for (auto piece = answer.rbegin(); piece != answer.rend() && piece->line == 0; ++piece) {
      piece->line = line;
    }
  };
  if (!device.rules.empty()) stamp(device.rules.back().answer);
  if (!device.timed.empty()) stamp(device.timed.back().answer);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// Without request endings a device answers as soon as what it heard ends
// with a request: a pattern that matches no bytes at all would answer every
// byte.
bool CheckWithoutEndings(const DeviceFile& device, std::string& why, int& line) {
  if (!device.requestEnds.empty()) return true;
  for (const Rule& rule : device.rules) {
    Pattern pattern;
    Captures captures;
    if (rule.kind != RequestKind::Pattern || !pattern.compile(rule.request, why) ||
        !pattern.matchWhole("", captures)) {
      continue;
    }
    why = "the pattern " + Quoted(rule.request) +
          " matches no bytes at all: without request endings it would answer every byte";
    line = rule.line;
    return false;
  }
  return true;
}

// A restart answers a request or a change of the host's lines: in timed
// output, which starts again with it, it would start the device for ever.
bool CheckRestarts(const DeviceFile& device, std::string& why, int& line) {
  for (const Timed& timed : device.timed) {
    for (const Piece& piece : timed.answer) {
      if (!piece.restart) continue;
      why = "restart answers a request or a change of DTR or RTS, not a time";
      line = piece.line;
      return false;
    }
  }
  return true;
}

}  // namespace

ParsedFile ParseDeviceFile(const std::string& text) {
  ParsedFile parsed;
  // Notepad starts a file it saves as UTF-8 with a byte order mark, and ends
  // its lines with CR LF; files from elsewhere may end them with LF or CR.
  size_t start = text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
  int number = 1;
  std::string why;
  for (; start <= text.size(); ++number) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    std::vector<Token> tokens;
    if (line.find('\0') != std::string::npos) {
      why = "a NUL byte (write \\x00 inside a text for one)";
    } else if (Tokenize(line, tokens, why) &&
               (tokens.empty() || ReadStatement(tokens, number, parsed.device, why))) {
      StampLine(parsed.device, number);
      start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
      continue;
    }
    parsed.ok = false;
    parsed.error = "line " + std::to_string(number) + ": " + why;
    return parsed;
  }
  if (!CheckWithoutEndings(parsed.device, why, number) || !CheckRestarts(parsed.device, why, number)) {
    parsed.ok = false;
    parsed.error = "line " + std::to_string(number) + ": " + why;
  }
  return parsed;
}

const char* FaultName(LineFault fault) {
  for (const FaultWord& f : kFaultWords) {
    if (f.fault == fault) return f.word;
  }
  return "none";
}

std::string ModemText(const ModemSet& set) {
  std::string text;
  for (const ModemWord& m : kModemWords) {
    if ((set.mask & m.line) == 0) continue;
    text += (text.empty() ? "" : " ") + std::string(m.word) + ((set.on & m.line) ? " on" : " off");
  }
  return text;
}

std::string Quoted(const std::string& bytes) { return "\"" + nbwire::Visible(bytes) + "\""; }

bool Unescape(const std::string& shown, std::string& bytes) {
  bytes.clear();
  for (size_t at = 0; at < shown.size(); ++at) {
    if (shown[at] != '\\') {
      bytes += shown[at];
      continue;
    }
    if (++at == shown.size()) return false;
    switch (shown[at]) {
      case 'r': bytes += '\r'; break;
      case 'n': bytes += '\n'; break;
      case 't': bytes += '\t'; break;
      case '\\': bytes += '\\'; break;
      case '"': bytes += '"'; break;
      case 'x': {
        const int high = at + 1 < shown.size() ? HexDigit(shown[at + 1]) : -1;
        const int low = at + 2 < shown.size() ? HexDigit(shown[at + 2]) : -1;
        if (high < 0 || low < 0) return false;
        bytes += static_cast<char>(high * 16 + low);
        at += 2;
        break;
      }
      default: return false;
    }
  }
  return true;
}

}  // namespace nbdevice

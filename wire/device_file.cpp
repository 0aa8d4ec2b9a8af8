#include "device_file.h"

#include <algorithm>
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

// 1 to 9 decimal digits (at most kMostMilliseconds).
bool Digits(const std::string& digits, uint32_t& out) {
  if (digits.empty() || digits.size() > 9) return false;
  for (char c : digits) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  out = static_cast<uint32_t>(std::stoul(digits));
  return true;
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
    if (done() || tokens_[at_].quoted || !Digits(tokens_[at_].text, out)) return false;
    ++at_;
    return true;
  }
  bool is(const char* expected) const { return !done() && !tokens_[at_].quoted && tokens_[at_].text == expected; }
  // A number, or a range LOW..HIGH (high < low refused); `high` is 0 for a number.
  bool range(uint32_t& low, uint32_t& high) {
    high = 0;
    if (done() || tokens_[at_].quoted) return false;
    const std::string whole = tokens_[at_].text;
    const size_t dots = whole.find("..");
    if (dots == std::string::npos) return number(low);
    if (!Digits(whole.substr(0, dots), low) || !Digits(whole.substr(dots + 2), high) || high < low) return false;
    ++at_;
    return true;
  }
  // A whole number, perhaps negative (a table's value).
  bool whole(int64_t& out) {
    if (done() || tokens_[at_].quoted) return false;
    const std::string& text = tokens_[at_].text;
    const bool minus = !text.empty() && text[0] == '-';
    uint32_t magnitude = 0;
    if (!Digits(text.substr(minus ? 1 : 0), magnitude)) return false;
    out = minus ? -int64_t(magnitude) : int64_t(magnitude);
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

// What an answer is read into, and what it may do.
struct Answering {
  DeviceFile& device;
  Answer& answer;
  Delivery& delivery;
  std::string* then;  // null: the answer may not change the mode, nor set values
  std::string& why;
};

// A text of an answer, read as a template; each walk it holds starts where it says.
bool ReadTemplateOf(const std::string& text, Template& made, DeviceFile& device, std::string& why) {
  size_t walks = device.initial.walks.size();
  if (!ReadTemplate(text, made, walks, why)) return false;
  for (const Field& field : made.fields) {
    if (field.kind == Field::Kind::Walk) device.initial.walks.push_back(field.start);
  }
  return true;
}

// "1 in 5" (a chance) or "every 5" (the fifth, tenth, ...), after a fault.
bool ReadShare(Reader& reader, Fault& fault, std::string& why) {
  if (reader.word("every")) {
    if (reader.number(fault.every) && fault.every != 0) return true;
  } else if (reader.number(fault.chance) && reader.word("in") && reader.number(fault.in) &&
             fault.chance != 0 && fault.chance <= fault.in) {
    return true;
  }
  why = "a fault takes how often, as 1 in 5 or every 5";
  return false;
}

// lose, cut [after N], garble or repeat, then how often.
bool ReadFault(Reader& reader, int line, std::vector<Fault>& faults, std::string& why) {
  static const struct { const char* word; Fault::Kind kind; } kFaults[] = {
      {"lose", Fault::Kind::Lose}, {"cut", Fault::Kind::Cut},
      {"garble", Fault::Kind::Garble}, {"repeat", Fault::Kind::Repeat}};
  for (const auto& known : kFaults) {
    if (!reader.word(known.word)) continue;
    Fault fault;
    fault.kind = known.kind;
    fault.line = line;
    if (fault.kind == Fault::Kind::Cut && reader.word("after") &&
        (!reader.number(fault.cutAfter) || fault.cutAfter == 0)) {
      why = "cut after takes a number of bytes, 1 or more";
      return false;
    }
    if (!ReadShare(reader, fault, why)) return false;
    faults.push_back(fault);
    return true;
  }
  return false;
}

bool FaultWord(const Reader& reader) {
  return reader.is("lose") || reader.is("cut") || reader.is("garble") || reader.is("repeat");
}

// set "NAME" "VALUE" or set "TABLE" "INDEX" "VALUE", before an answer.
bool ReadSet(Reader& reader, Answering& a) {
  Setting setting;
  std::string index, value;
  if (!reader.text(setting.name) || !reader.text(value)) {
    a.why = "set takes a name and a value in quotes (or a table, an entry and a value)";
    return false;
  }
  if (reader.text(index)) {
    setting.entry = true;
    std::swap(index, value);
    if (!ReadTemplateOf(index, setting.index, a.device, a.why)) return false;
  }
  if (!ReadTemplateOf(value, setting.value, a.device, a.why)) return false;
  a.delivery.sets.push_back(setting);
  return true;
}

// The words of the line's events that may stand in an answer.
bool LineEventNext(const Reader& reader) {
  return reader.ahead(0, "fault") || reader.ahead(0, "modem") || reader.ahead(0, "reset") ||
         reader.ahead(0, "restart");
}

struct LineFaultWord {
  const char* word;
  LineFault fault;
};
constexpr LineFaultWord kLineFaultWords[] = {{"parity", LineFault::Parity},
                                     {"framing", LineFault::Framing},
                                     {"overrun", LineFault::Overrun},
                                     {"break", LineFault::Break}};
struct ModemWord {
  const char* word;
  uint8_t line;
};
constexpr ModemWord kModemWords[] = {{"cts", kCtsLine}, {"dsr", kDsrLine}, {"dcd", kDcdLine}, {"ring", kRingLine}};

// After "fault": which one.
bool ReadLineFault(Reader& reader, Piece& piece, std::string& why) {
  for (const LineFaultWord& f : kLineFaultWords) {
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
  if (reader.word("fault")) return ReadLineFault(reader, piece, why);
  if (reader.word("modem")) return ReadModem(reader, piece, why);
  piece.reset = reader.word("reset");
  piece.restart = !piece.reset && reader.word("restart");
  if (reader.done()) return true;
  why = std::string(piece.reset ? "reset" : "restart") + " ends an answer: nothing may follow it";
  return false;
}

// A line event as a piece of the answer (after its wait, if any).
bool ReadLineEventPiece(Reader& reader, Answering& a, Piece& piece) {
  if (!ReadLineEvent(reader, piece, a.why)) return false;
  a.answer.push_back(piece);
  return true;
}

// One text piece, perhaps after "wait MS" or "wait LOW..HIGH"; a close
// after a wait ends the answer.
bool ReadPiece(Reader& reader, Answering& a, bool& closed) {
  Piece piece;
  if (reader.word("wait")) {
    if (!reader.range(piece.waitMs, piece.waitMostMs)) {
      a.why = "wait takes a number of milliseconds, 0 to 999999999, or a range such as 20..300";
      return false;
    }
    if (reader.word("close")) {
      a.answer.push_back(piece);
      closed = true;
      return ReadClose(reader, a.answer.back(), a.why);
    }
    if (LineEventNext(reader)) return ReadLineEventPiece(reader, a, piece);
    if (!reader.text(piece.bytes)) {
      a.why = "a wait must be followed by a text or close";
      return false;
    }
  } else if (LineEventNext(reader)) {
    return ReadLineEventPiece(reader, a, piece);
  } else if (!reader.text(piece.bytes)) {
    a.why = "expected a text, wait or close, found " + reader.next();
    return false;
  }
  if (!ReadTemplateOf(piece.bytes, piece.made, a.device, a.why)) return false;
  a.answer.push_back(piece);
  return true;
}

// After send: texts and waits, then noend and faults, ending in close or
// then "MODE".
bool ReadSend(Reader& reader, Answering& a) {
  bool clauses = false;  // noend or a fault was read: no more texts
  while (!reader.done()) {
    if (reader.word("then")) return ReadThen(reader, a.then, a.why);
    if (reader.word("close")) {
      a.answer.emplace_back();
      return ReadClose(reader, a.answer.back(), a.why);
    }
    if (reader.word("noend")) {
      a.delivery.noEnd = clauses = true;
    } else if (FaultWord(reader)) {
      if (!ReadFault(reader, 0, a.delivery.faults, a.why)) return false;
      clauses = true;
    } else if (clauses && !LineEventNext(reader)) {
      a.why = "after noend and faults only more faults, close or then may come, not " + reader.next();
      return false;
    } else {
      bool closed = false;
      if (!ReadPiece(reader, a, closed)) return false;
      if (closed) return true;
    }
  }
  if (a.answer.empty()) a.why = "send takes at least one text (or write silent)";
  return !a.answer.empty();
}

// Perhaps set clauses, then "send" followed by texts and waits, or
// "silent", or "close" alone; or "unplug ..." or "plug in". then "MODE"
// may end a request's answer that does not close (`then` null: not
// allowed).
bool ReadAnswer(Reader& reader, Answering& a) {
  while (reader.word("set")) {
    if (!ReadSet(reader, a)) return false;
  }
  if (reader.word("silent")) {
    if (reader.done()) return true;
    if (reader.word("then")) return ReadThen(reader, a.then, a.why);
    a.why = "nothing may follow silent but then";
    return false;
  }
  if (reader.word("close")) {
    a.answer.emplace_back();
    return ReadClose(reader, a.answer.back(), a.why);
  }
  if (reader.word("unplug")) return ReadUnplug(reader, a.answer, a.why);
  if (reader.word("plug")) return ReadPlugIn(reader, a.answer, a.why);
  if (reader.word("send") || LineEventNext(reader)) return ReadSend(reader, a);
  a.why = "expected send, silent or close, found " + reader.next();
  return false;
}

// "end" then "none", "gap" or one or more texts.
bool ReadEnds(Reader& reader, std::vector<std::string>& ends, std::string& why, bool* gap = nullptr) {
  ends.clear();
  if (!reader.word("end")) {
    why = "expected end, found " + reader.next();
    return false;
  }
  if (reader.word("none") && reader.done()) return true;
  if (gap != nullptr && reader.word("gap") && reader.done()) {
    *gap = true;
    return true;
  }
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
  Answering a{device, rule.answer, rule.delivery, &rule.then, why};
  if (!ReadAnswer(reader, a)) return false;
  for (Fault& fault : rule.delivery.faults) fault.line = line;
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
  Answering a{device, rule.answer, rule.delivery, &rule.then, why};
  if (!ReadAnswer(reader, a)) return false;
  for (Fault& fault : rule.delivery.faults) fault.line = line;
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

bool ReadTimed(Reader& reader, const std::string& mode, int line, DeviceFile& device, std::string& why) {
  Timed timed;
  timed.mode = mode;
  timed.line = line;
  bool at = false;
  if (reader.word("at")) {
    at = true;
    if (!reader.number(timed.atMs)) {
      why = "at takes a number of milliseconds, 0 to 999999999";
      return false;
    }
  }
  if (reader.word("every")) {
    if (!reader.range(timed.everyMs, timed.everyMostMs) || timed.everyMs == 0) {
      why = "every takes a number of milliseconds, 1 to 999999999, or a range such as 900..1100";
      return false;
    }
    if (!at) timed.atMs = timed.everyMs;
  }
  Answering a{device, timed.answer, timed.delivery, nullptr, why};
  if (!ReadAnswer(reader, a)) return false;
  if (timed.answer.empty()) {
    why = "timed output must send something";
    return false;
  }
  for (Fault& fault : timed.delivery.faults) fault.line = line;
  device.timed.push_back(timed);
  return true;
}

// After "answers": end ..., out of order, or a fault for every answer.
bool ReadAnswers(Reader& reader, int line, DeviceFile& device, std::string& why) {
  if (reader.word("out")) {
    if (reader.word("of") && reader.word("order") && reader.done()) {
      device.outOfOrder = true;
      return true;
    }
    why = "answers out takes of order";
    return false;
  }
  if (FaultWord(reader)) {
    if (!ReadFault(reader, line, device.answerFaults, why)) return false;
    if (reader.done()) return true;
    why = "nothing may follow a fault of every answer";
    return false;
  }
  std::vector<std::string> ends;
  if (!ReadEnds(reader, ends, why)) return false;
  if (ends.size() > 1) {
    why = "answers end takes one text";
    return false;
  }
  device.answerEnd = ends.empty() ? std::string() : ends[0];
  return true;
}

// After "requests": end ... or check KIND.
bool ReadRequests(Reader& reader, DeviceFile& device, std::string& why) {
  if (!reader.word("check")) {
    device.gapEnded = false;
    return ReadEnds(reader, device.requestEnds, why, &device.gapEnded);
  }
  static const struct { const char* word; wlcodes::Checksum kind; } kChecks[] = {
      {"crc16", wlcodes::Checksum::Crc16Modbus}, {"lrc", wlcodes::Checksum::Lrc},
      {"sum8", wlcodes::Checksum::Sum8},         {"xor8", wlcodes::Checksum::Xor8},
      {"nmea", wlcodes::Checksum::Nmea}};
  for (const auto& check : kChecks) {
    if (!reader.word(check.word)) continue;
    device.checked = true;
    device.requestCheck = check.kind;
    if (reader.done()) return true;
  }
  why = "requests check takes one of crc16, lrc, sum8, xor8 or nmea";
  return false;
}

// table "NAME" FIRST..LAST = values (those not given are 0).
bool ReadTable(Reader& reader, DeviceFile& device, std::string& why) {
  std::string name;
  uint32_t first = 0, last = 0;
  if (!reader.text(name) || !reader.range(first, last) || !reader.word("=")) {
    why = "table takes a name in quotes, its entries' range and =, then values: table \"hr\" 0..15 = 231 500";
    return false;
  }
  if (last - first >= kMostTableEntries) {
    why = "a table holds at most " + std::to_string(kMostTableEntries) + " entries";
    return false;
  }
  Table table;
  table.first = first;
  table.entries.assign(last - first + 1, 0);
  for (size_t k = 0; !reader.done(); ++k) {
    int64_t value = 0;
    if (k == table.entries.size() || !reader.whole(value)) {
      why = k == table.entries.size() ? "more values than the table's entries"
                                      : "a table's values are whole numbers, not " + reader.next();
      return false;
    }
    table.entries[k] = value;
  }
  if (!device.initial.tables.emplace(name, table).second) {
    why = "a second table " + Quoted(name);
    return false;
  }
  return true;
}

bool ReadSettings(Reader& reader, int line, DeviceFile& device, std::string& why) {
  if (reader.word("seed")) {
    if (reader.number(device.seed) && reader.done()) {
      device.seedGiven = true;
      return true;
    }
    why = "seed takes a whole number, 0 to 999999999";
    return false;
  }
  if (reader.word("noise")) {
    device.noise.line = line;
    if (reader.word("every") && reader.range(device.noise.leastMs, device.noise.mostMs) &&
        device.noise.leastMs != 0 && (reader.done() || (reader.text(device.noise.bytes) && reader.done()))) {
      if (device.noise.mostMs < device.noise.leastMs) device.noise.mostMs = device.noise.leastMs;
      return true;
    }
    why = "noise takes every and milliseconds, as every 500..3000, then perhaps the bytes it is made of";
    return false;
  }
  if (reader.word("silent")) {
    if (reader.word("device") && reader.done()) return device.silentDevice = true;
    why = "silent takes device";
    return false;
  }
  if (reader.word("table")) return ReadTable(reader, device, why);
  std::string name, value;
  if (!reader.word("set")) return false;
  if (reader.text(name) && reader.text(value) && reader.done()) {
    device.initial.values[name] = value;
    return true;
  }
  why = "set takes a name and its first value in quotes";
  return false;
}

bool ReadStatement(const std::vector<Token>& tokens, int line, DeviceFile& device, std::string& why) {
  Reader reader(tokens);
  if (reader.word("requests")) return ReadRequests(reader, device, why);
  if (reader.word("answers")) return ReadAnswers(reader, line, device, why);
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
  why.clear();  // ReadSettings says why only when the line is a setting and wrong
  if (ReadSettings(reader, line, device, why) || !why.empty()) return why.empty();
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
  if (reader.is("at") || reader.is("every")) return ReadTimed(reader, mode, line, device, why);
  if (mode.empty() && (reader.is("refuse") || reader.is("window"))) return ReadServerStatement(reader, device, why);
  if (!mode.empty()) {
    why = "in \"" + mode + "\" must be followed by on, match, otherwise, at or every, not " + reader.next();
    return false;
  }
  why = "a line starts with requests, answers, on, match, otherwise, in, starts, at, every, "
        "line, baud, seed, set, table, noise or silent device, not " + reader.next();
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
  if (!device.requestEnds.empty() || device.gapEnded) return true;
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

// Every template of an answer, its sets' included.
template <typename Visit>
void EachTemplate(const Answer& answer, const Delivery& delivery, Visit visit) {
  for (const Piece& piece : answer) visit(piece.made);
  for (const Setting& setting : delivery.sets) {
    visit(setting.index);
    visit(setting.value);
  }
}

// Each name a template reads is set somewhere in the file (a value by set
// or count, a table by table), and each set names what it sets.
bool CheckNames(const DeviceFile& device, std::string& why, int& line) {
  std::vector<std::string> values;
  for (const auto& value : device.initial.values) values.push_back(value.first);
  auto counted = [&](const Template& made) {
    for (const Field& field : made.fields) {
      if (field.kind == Field::Kind::Count) values.push_back(field.text);
    }
  };
  auto check = [&](const Answer& answer, const Delivery& delivery, int at) {
    for (const Setting& setting : delivery.sets) {
      const bool table = device.initial.tables.count(setting.name) != 0;
      if (table == setting.entry) continue;
      why = table ? "set " + Quoted(setting.name) + " names a table: give its entry and the value"
                  : "set " + Quoted(setting.name) + " with an entry names no table";
      line = at;
      return false;
    }
    bool ok = true;
    EachTemplate(answer, delivery, [&](const Template& made) {
      std::vector<std::string> read, tables;
      NamesRead(made, read, tables);
      for (const std::string& name : read) {
        if (!ok || std::find(values.begin(), values.end(), name) != values.end()) continue;
        why = "{" + name + "} is never set (set \"" + name + "\" \"...\" gives it a first value)";
        ok = false;
      }
      for (const std::string& name : tables) {
        if (!ok || device.initial.tables.count(name) != 0) continue;
        why = "there is no table \"" + name + "\"";
        ok = false;
      }
    });
    if (!ok) line = at;
    return ok;
  };
  for (const Rule& rule : device.rules) {
    EachTemplate(rule.answer, rule.delivery, counted);
    for (const Setting& setting : rule.delivery.sets) {
      if (!setting.entry) values.push_back(setting.name);
    }
  }
  for (const Timed& timed : device.timed) {
    EachTemplate(timed.answer, timed.delivery, counted);
    for (const Setting& setting : timed.delivery.sets) {
      if (!setting.entry) values.push_back(setting.name);
    }
  }
  for (const Rule& rule : device.rules) {
    if (!check(rule.answer, rule.delivery, rule.line)) return false;
  }
  for (const Timed& timed : device.timed) {
    if (!check(timed.answer, timed.delivery, timed.line)) return false;
  }
  return true;
}

// A mode a line answers in must be one the device can enter (by then or
// starts in); a mode then enters must have lines of its own or be the
// mode the device starts in (a mode that only stops others' lines).
bool CheckModes(const DeviceFile& device, std::string& why, int& line) {
  std::vector<std::string> entered{device.startMode}, named{device.startMode};
  for (const Rule& rule : device.rules) {
    entered.push_back(rule.then);
    named.push_back(rule.mode);
  }
  for (const Timed& timed : device.timed) named.push_back(timed.mode);
  auto has = [](const std::vector<std::string>& modes, const std::string& mode) {
    return std::find(modes.begin(), modes.end(), mode) != modes.end();
  };
  auto refuse = [&](const std::string& mode, int at, const char* what) {
    why = "the mode " + Quoted(mode) + what;
    line = at;
    return false;
  };
  for (const Rule& rule : device.rules) {
    if (!rule.mode.empty() && !has(entered, rule.mode)) {
      return refuse(rule.mode, rule.line, " is never entered (no then or starts in names it)");
    }
    if (!rule.then.empty() && !has(named, rule.then)) {
      return refuse(rule.then, rule.line, " has no lines (and is not the mode the device starts in)");
    }
  }
  for (const Timed& timed : device.timed) {
    if (!timed.mode.empty() && !has(entered, timed.mode)) {
      return refuse(timed.mode, timed.line, " is never entered (no then or starts in names it)");
    }
  }
  return true;
}

// "$10" in a pattern with one group would read as $1 and a 0.
bool CheckGroupNumbers(const DeviceFile& device, std::string& why, int& line) {
  for (const Rule& rule : device.rules) {
    if (rule.kind != RequestKind::Pattern) continue;
    Pattern pattern;
    pattern.compile(rule.request, why);
    const size_t groups = pattern.groups();
    for (const Piece& piece : rule.answer) {
      const std::string& text = piece.bytes;
      for (size_t at = 0; at + 2 < text.size(); ++at) {
        if (text[at] == '$' && text[at + 1] == '$') {
          ++at;
          continue;
        }
        if (text[at] != '$' || !std::isdigit(static_cast<unsigned char>(text[at + 1])) ||
            !std::isdigit(static_cast<unsigned char>(text[at + 2]))) {
          continue;
        }
        const size_t one = text[at + 1] - '0', two = one * 10 + (text[at + 2] - '0');
        if (one == 0 || one > groups || two <= groups) continue;
        why = "$" + text.substr(at + 1, 2) + ": the pattern has " + std::to_string(groups) +
              (groups == 1 ? " group" : " groups") + " (write \"$" + text.substr(at + 1, 1) + "\" \"" +
              text.substr(at + 2, 1) + "\" for group " + text.substr(at + 1, 1) + " then a " +
              text.substr(at + 2, 1) + ")";
        line = rule.line;
        return false;
      }
    }
  }
  return true;
}

// A file that answers nothing and sends nothing is a mistake (an empty
// file, or one opened by the wrong name) unless it says so.
bool CheckSaysSomething(const DeviceFile& device, std::string& why, int& line) {
  if (device.silentDevice || !device.rules.empty() || !device.timed.empty() || device.noise.leastMs != 0) {
    return true;
  }
  why = "the file answers nothing and sends nothing (write silent device for a device that never answers)";
  line = 1;
  return false;
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
  const int last = number - 1;
  for (auto check : {CheckWithoutEndings, CheckNames, CheckModes, CheckGroupNumbers, CheckSaysSomething,
                     CheckRestarts}) {
    number = last;
    if (check(parsed.device, why, number)) continue;
    parsed.ok = false;
    parsed.error = "line " + std::to_string(number) + ": " + why;
    break;
  }
  return parsed;
}

const char* FaultName(LineFault fault) {
  for (const LineFaultWord& f : kLineFaultWords) {
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

std::string QuotedAnswer(const std::string& bytes) {
  std::string doubled;
  for (char c : bytes) doubled += c == '{' ? "{{" : std::string(1, c);
  return Quoted(doubled);
}

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

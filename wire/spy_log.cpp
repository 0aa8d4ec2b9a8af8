#include "spy_log.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "wire/device_file.h"
#include "wire/port_model.h"
#include "wire/text.h"

namespace nbspy {
namespace {

std::string Format(const char* format, double ms, const std::string& where) {
  char head[64];
  std::snprintf(head, sizeof head, format, ms, where.c_str());
  return head;
}

std::string Ms(double ms) { return std::to_string(static_cast<long long>(ms + 0.5)) + " ms"; }

// A time as the log's first column shows it.
std::string Fixed(double ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", ms);
  return text;
}

std::string Limit(uint32_t value) { return value == 0xFFFFFFFFu ? "max" : std::to_string(value); }

// The shortest idle gap: below it a scheduler's tick would cut answers.
constexpr double kLeastIdleGapMs = 5;
// A latency the log knows to within this (a line receive looks every 10 ms
// or so) shows as a figure; beyond it, as the bound it is.
constexpr double kLatencyKnownWithinMs = 20;

bool IsText(unsigned char c) { return (c >= 0x20 && c < 0x7F) || c == '\r' || c == '\n' || c == '\t'; }

bool AllText(const std::string& bytes) {
  for (char c : bytes) {
    if (!IsText(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// "01 03 4A  \"..J\"": each byte in hex, then the text ("." for a byte that
// is not printable).
std::string HexAndText(const std::string& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex, text;
  for (char c : bytes) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (!hex.empty()) hex += ' ';
    hex += kDigits[b >> 4];
    hex += kDigits[b & 15];
    text += b >= 0x20 && b < 0x7F ? c : '.';
  }
  return hex + "  \"" + text + "\"";
}

// `length` bytes in hex from `at`, then their text, which is skipped.
bool ReadHex(const std::string& line, size_t length, size_t& at, std::string& bytes) {
  for (size_t k = 0; k < length; ++k, at += 3) {
    if (at + 2 > line.size()) return false;
    const int high = nbwire::HexDigit(line[at]), low = nbwire::HexDigit(line[at + 1]);
    if (high < 0 || low < 0 || (at + 2 < line.size() && line[at + 2] != ' ')) return false;
    bytes += static_cast<char>(high * 16 + low);
  }
  at += 1;  // the second blank, then the text in quotes
  if (at + length + 2 > line.size() || line[at] != '"' || line[at + length + 1] != '"') return false;
  at += length + 2;
  return true;
}

// The number a note gives after `word` ("came after 12.5"), or before it
// ("3 reads"); `none` when it gives none.
double NoteNumber(const std::string& note, const std::string& word, double none) {
  const size_t found = note.find(word);
  if (found == std::string::npos) return none;
  if (word[0] != ' ') return std::strtod(note.c_str() + found + word.size(), nullptr);
  size_t start = found;
  while (start > 0 && note[start - 1] >= '0' && note[start - 1] <= '9') --start;
  return start == found ? none : std::strtod(note.c_str() + start, nullptr);
}

}  // namespace

double IdleGapMs(double byteMs) { return byteMs * 3.5 > kLeastIdleGapMs ? byteMs * 3.5 : kLeastIdleGapMs; }

std::string EventLine(double ms, const std::string& where, const std::string& what) {
  return Format("%9.1f %-6s ", ms, where) + what;
}

Outcome Succeeded() { return Outcome(); }

Outcome FailedWith(uint32_t error) { return {Outcome::Failed, error}; }

std::string OutcomeText(const Outcome& outcome) {
  switch (outcome.is) {
    case Outcome::Ok: return "ok";
    case Outcome::GivenUp: return "given up";
    default: return ErrorText(outcome.error);
  }
}

namespace {

// The first words of each kind of event that has them.
const char kOpen[] = "open \"", kClose[] = "close", kSettings[] = "settings ", kTimeouts[] = "time-outs ",
           kQueues[] = "queues ", kLineErrors[] = "line errors: ", kFind[] = "find \"", kConnect[] = "connect ",
           kWaited[] = "waited ", kRepeated[] = "the line above ";
const char kFailed[] = " failed: ", kRefused[] = ": refused, ", kTimeOut[] = ": time-out",
           kRepeatedEnd[] = " times more", kWritten[] = " bytes written)", kReadBytes[] = " bytes read)";
const char* const kAccesses[] = {"", " to read", " to write", " to read and write"};

bool StartsWith(const std::string& text, const char* head) { return text.rfind(head, 0) == 0; }

bool EndsWith(const std::string& text, const char* tail) {
  const size_t n = std::strlen(tail);
  return text.size() >= n && text.compare(text.size() - n, n, tail) == 0;
}

// A count as the log writes it, digits only; false for anything else.
bool ReadCount(const std::string& text, uint64_t& value) {
  if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  value = std::strtoull(text.c_str(), nullptr, 10);
  return true;
}

// "error 5, access denied (in use?)" or "error 1617": the failure.
bool ReadError(const std::string& text, Outcome& outcome) {
  const char head[] = "error ";
  if (!StartsWith(text, head)) return false;
  const size_t end = text.find(", ");
  uint64_t code = 0;
  if (!ReadCount(text.substr(sizeof head - 1, end == std::string::npos ? end : end - (sizeof head - 1)), code) ||
      code > 0xFFFFFFFFu) {
    return false;
  }
  outcome = FailedWith(static_cast<uint32_t>(code));
  return true;
}

bool ReadOutcome(const std::string& text, Outcome& outcome) {
  if (text == "ok" || text == "given up") {
    outcome.is = text == "ok" ? Outcome::Ok : Outcome::GivenUp;
    outcome.error = 0;
    return true;
  }
  return ReadError(text, outcome);
}

// A name in quotes after `head`, up to the last quote; `rest` what follows it.
bool ReadQuoted(const std::string& text, const char* head, std::string& name, std::string& rest) {
  const size_t from = std::strlen(head), quote = text.rfind('"');
  if (!StartsWith(text, head) || quote == std::string::npos || quote < from) return false;
  name = text.substr(from, quote - from);
  rest = text.substr(quote + 1);
  return true;
}

// What ends in ": OUTCOME" after a head, the outcome after the last ": ".
bool ReadEnding(const std::string& text, size_t from, std::string& what, Outcome& outcome) {
  const size_t colon = text.rfind(": ");
  if (colon == std::string::npos || colon < from || !ReadOutcome(text.substr(colon + 2), outcome)) return false;
  what = text.substr(from, colon - from);
  return true;
}

bool ReadOpen(const std::string& text, Event& e) {
  std::string rest;
  if (!ReadQuoted(text, kOpen, e.what, rest)) return false;
  const size_t colon = rest.find(": ");
  if (colon == std::string::npos || !ReadOutcome(rest.substr(colon + 2), e.outcome)) return false;
  e.access = rest.substr(0, colon);
  return std::find(std::begin(kAccesses), std::end(kAccesses), e.access) != std::end(kAccesses);
}

// A count such as " (12 bytes written)" at `at`, as `tail` ends it, if one
// is there: `at` then goes past it.
void ReadNoteCount(const std::string& rest, size_t& at, const char* tail, uint64_t& count) {
  if (rest.compare(at, 2, " (") != 0) return;
  const size_t end = rest.find(tail, at + 2);
  uint64_t n = 0;
  if (end == std::string::npos || !ReadCount(rest.substr(at + 2, end - at - 2), n) || n == 0) return;
  count = n;
  at = end + std::strlen(tail);
}

bool ReadClose(const std::string& text, Event& e) {
  if (StartsWith(text, "close: ")) return ReadOutcome(text.substr(7), e.outcome);
  std::string rest;
  if (!ReadQuoted(text, "close \"", e.what, rest) || e.what.empty()) return false;
  size_t at = 0;
  ReadNoteCount(rest, at, kWritten, e.written);
  ReadNoteCount(rest, at, kReadBytes, e.read);
  return rest.compare(at, 2, ": ") == 0 && ReadOutcome(rest.substr(at + 2), e.outcome);
}

// Settings or time-outs: what they are, refused with an error or not.
void ReadShown(const std::string& text, const char* head, Event& e) {
  const size_t refused = text.rfind(kRefused);
  const size_t from = std::strlen(head);
  if (refused != std::string::npos && refused >= from &&
      ReadError(text.substr(refused + sizeof kRefused - 1), e.outcome)) {
    e.what = text.substr(from, refused - from);
  } else {
    e.what = text.substr(from);
  }
}

bool ReadFind(const std::string& text, Event& e) {
  std::string rest;
  if (!ReadQuoted(text, kFind, e.what, rest) || rest.compare(0, 2, ": ") != 0) return false;
  if (!ReadError(rest.substr(2), e.outcome)) e.address = rest.substr(2);
  return true;
}

bool ReadConnect(const std::string& text, Event& e) {
  const size_t from = sizeof kConnect - 1, colon = text.find(": ", from);
  if (!StartsWith(text, kConnect) || colon == std::string::npos || !ReadOutcome(text.substr(colon + 2), e.outcome)) {
    return false;
  }
  e.what = text.substr(from, colon - from);
  return true;
}

bool ReadFailed(const std::string& text, Event& e) {
  const size_t at = text.rfind(kFailed);
  if (at == std::string::npos || !ReadError(text.substr(at + sizeof kFailed - 1), e.outcome)) return false;
  e.what = text.substr(0, at);
  return true;
}

// Reads `text` as an event of `kind`; false when it is none.
bool ReadAs(EventKind kind, const std::string& text, Event& e) {
  e = Event();
  e.kind = kind;
  switch (kind) {
    case EventKind::Open: return ReadOpen(text, e);
    case EventKind::Close: return ReadClose(text, e);
    case EventKind::Settings:
    case EventKind::Timeouts: {
      const char* head = kind == EventKind::Settings ? kSettings : kTimeouts;
      if (!StartsWith(text, head)) return false;
      ReadShown(text, head, e);
      return true;
    }
    case EventKind::Queues: return StartsWith(text, kQueues) && ReadEnding(text, sizeof kQueues - 1, e.what, e.outcome);
    case EventKind::LineErrors:
      if (!StartsWith(text, kLineErrors)) return false;
      e.what = text.substr(sizeof kLineErrors - 1);
      return true;
    case EventKind::Find: return ReadFind(text, e);
    case EventKind::Connect: return ReadConnect(text, e);
    case EventKind::Waited:
      if (!StartsWith(text, kWaited) || !EndsWith(text, kTimeOut) ||
          text.size() < sizeof kWaited - 1 + sizeof kTimeOut - 1) {
        return false;
      }
      e.what = text.substr(sizeof kWaited - 1, text.size() - (sizeof kWaited - 1) - (sizeof kTimeOut - 1));
      return true;
    case EventKind::Played:
      if (!StartsWith(text, kPlayedNote)) return false;
      e.what = text.substr(sizeof kPlayedNote - 1);
      return true;
    case EventKind::Repeated: {
      uint64_t count = 0;
      if (!StartsWith(text, kRepeated) || !EndsWith(text, kRepeatedEnd) ||
          text.size() < sizeof kRepeated - 1 + sizeof kRepeatedEnd - 1) {
        return false;
      }
      e.what = text.substr(sizeof kRepeated - 1, text.size() - (sizeof kRepeated - 1) - (sizeof kRepeatedEnd - 1));
      return ReadCount(e.what, count);
    }
    case EventKind::Failed: return ReadFailed(text, e);
    case EventKind::Other: e.what = text; return true;
  }
  return false;
}

// A count in a close's note, when there is one: " (12 bytes written)".
std::string CountNote(uint64_t count, const char* tail) {
  return count == 0 ? std::string() : " (" + std::to_string(count) + tail;
}

}  // namespace

Event MakeEvent(EventKind kind, const std::string& what, const Outcome& outcome) {
  Event e;
  e.kind = kind;
  e.what = what;
  e.outcome = outcome;
  return e;
}

std::string EventText(const Event& e) {
  switch (e.kind) {
    case EventKind::Open: return kOpen + e.what + "\"" + e.access + ": " + OutcomeText(e.outcome);
    case EventKind::Close:
      return kClose + (e.what.empty() ? std::string() : " \"" + e.what + "\"" + CountNote(e.written, kWritten) +
                                                             CountNote(e.read, kReadBytes)) +
             ": " + OutcomeText(e.outcome);
    case EventKind::Failed: return e.what + kFailed + ErrorText(e.outcome.error);
    case EventKind::Settings:
    case EventKind::Timeouts:
      return (e.kind == EventKind::Settings ? kSettings : kTimeouts) + e.what +
             (e.outcome.ok() ? std::string() : kRefused + ErrorText(e.outcome.error));
    case EventKind::Queues: return kQueues + e.what + ": " + OutcomeText(e.outcome);
    case EventKind::LineErrors: return kLineErrors + e.what;
    case EventKind::Find: return kFind + e.what + "\": " + (e.outcome.ok() ? e.address : ErrorText(e.outcome.error));
    case EventKind::Connect: return kConnect + e.what + ": " + OutcomeText(e.outcome);
    case EventKind::Waited: return kWaited + e.what + kTimeOut;
    case EventKind::Played: return kPlayedNote + e.what;
    case EventKind::Repeated: return kRepeated + e.what + kRepeatedEnd;
    case EventKind::Other: break;
  }
  return e.what;
}

Event ReadEvent(const std::string& text) {
  // Kinds with first words of their own first; a failure's words come last.
  static const EventKind kOrder[] = {EventKind::Open,       EventKind::Close,  EventKind::Settings,
                                     EventKind::Timeouts,   EventKind::Queues, EventKind::LineErrors,
                                     EventKind::Find,       EventKind::Connect, EventKind::Waited,
                                     EventKind::Played,     EventKind::Repeated, EventKind::Failed};
  Event e;
  for (EventKind kind : kOrder) {
    if (ReadAs(kind, text, e)) return e;
  }
  ReadAs(EventKind::Other, text, e);
  return e;
}

std::string DataLine(double ms, const std::string& where, char direction, const std::string& bytes,
                     const std::string& note) {
  char length[32];
  std::snprintf(length, sizeof length, "%c %5zu ", direction, bytes.size());
  std::string line = Format("%9.1f %-6s ", ms, where) + length;
  if (!bytes.empty()) {
    line += (AllText(bytes) ? nbdevice::Quoted(bytes) : HexAndText(bytes)) + (note.empty() ? "" : "  ");
  }
  return line + note;
}

bool ParseLogLine(const std::string& line, LogRecord& record) {
  char* end = nullptr;
  record = LogRecord();
  record.ms = std::strtod(line.c_str(), &end);
  if (end == line.c_str() || *end != ' ') return false;
  record.cameMs = record.ms;
  size_t at = static_cast<size_t>(end - line.c_str()) + 1;
  const size_t whereEnd = line.find(' ', at);
  if (whereEnd == std::string::npos) return false;
  record.where = line.substr(at, whereEnd - at);
  at = line.find_first_not_of(' ', whereEnd);
  if (at == std::string::npos) return false;
  const bool data = (line[at] == '>' || line[at] == '<') && at + 1 < line.size() && line[at + 1] == ' ';
  if (!data) {
    record.text = line.substr(at);
    record.event = ReadEvent(record.text);
    return true;
  }
  record.direction = line[at];
  const size_t count = line.find_first_not_of(' ', at + 1);
  const size_t open = line.find_first_not_of("0123456789", count);
  const size_t length = count == std::string::npos ? 0 : std::strtoul(line.c_str() + count, nullptr, 10);
  if (length == 0 || open == std::string::npos || line[open] != ' ' || open + 1 == line.size()) {
    const size_t note = line.find_first_not_of(" 0123456789", at + 1);  // nothing came: the note says why
    if (note != std::string::npos) record.text = line.substr(note);
    return true;
  }
  at = open + 1;
  if (line[at] == '"') {
    std::string shown;
    for (++at; at < line.size() && line[at] != '"'; ++at) {
      if (line[at] == '\\' && at + 1 < line.size()) shown += line[at++];
      shown += line[at];
    }
    if (at == line.size() || !nbdevice::Unescape(shown, record.bytes)) return false;
    ++at;
  } else if (!ReadHex(line, length, at, record.bytes)) {
    return false;
  }
  const size_t note = line.find('(', at), close = line.rfind(')');
  if (note != std::string::npos) record.note = line.substr(note + 1, close > note ? close - note - 1 : close);
  // A count past any a log holds (a hand-edited or damaged line) reads as one.
  const double reads = NoteNumber(record.note, " reads", 1);
  record.reads = reads >= 1 && reads <= 1e9 ? static_cast<int>(reads) : 1;
  record.latencyAtMost = record.note.find("latency at most ") != std::string::npos;
  record.latencyMs = NoteNumber(record.note, record.latencyAtMost ? "latency at most " : "latency ", -1);
  record.cameMs = NoteNumber(record.note, "waiting since ", record.ms);
  record.afterMs = NoteNumber(record.note, "came after ", -1);
  return true;
}

double SettingsByteMs(const Event& event) {
  unsigned baud = 0, bits = 0;
  char parity = 0;
  char stop[4] = {};
  if (event.kind != EventKind::Settings || !event.outcome.ok() || event.what.find(": refused") != std::string::npos ||
      std::sscanf(event.what.c_str(), "%u %1u%c%3[0-9.]", &baud, &bits, &parity, stop) != 4) {
    return 0;
  }
  const char* parities = "NOEMS";
  const char* found = std::strchr(parities, parity);
  if (found == nullptr || parity == 0) return 0;
  const uint8_t stopBits = std::strcmp(stop, "1.5") == 0 ? 1 : std::strcmp(stop, "2") == 0 ? 2 : 0;
  return nbport::ByteMicroseconds(baud, static_cast<uint8_t>(bits), static_cast<uint8_t>(found - parities),
                                  stopBits) / 1000.0;
}

std::string ErrorText(uint32_t code) {
  static const std::map<uint32_t, const char*> kNames = {
      {1, "not supported by the device"}, {2, "no such file or device"},
      {3, "no such folder"},              {5, "access denied (in use?)"},
      {6, "not an open handle"},          {21, "the device is not ready"},
      {31, "the device does not work"},   {32, "in use by another program"},
      {50, "not supported"},              {87, "a setting the device refuses"},
      {112, "the disk is full"},          {123, "not a file's name (NUL, CON, COM1 ... name devices)"},
      {183, "it exists already"},
      {10035, "would wait"},              {10036, "in progress"},
      {10038, "not a socket"},            {10049, "no such address"},
      {10053, "connection aborted"},      {10054, "connection reset by the peer"},
      {10057, "not connected"},           {10060, "timed out"},
      {10061, "connection refused"},      {11001, "no such host"},
      {11004, "no such name"},
  };
  const auto name = kNames.find(code);
  return "error " + std::to_string(code) + (name == kNames.end() ? "" : std::string(", ") + name->second);
}

Event SettingsEvent(const LineSettings& s, const Outcome& outcome) {
  static const char kParity[] = "NOEMS";
  static const char* const kStop[] = {"1", "1.5", "2"};
  std::string text = std::to_string(s.baud) + " " + std::to_string(s.byteSize) +
                     (s.parity < 5 ? std::string(1, kParity[s.parity]) : "?" + std::to_string(s.parity)) +
                     (s.stopBits < 3 ? kStop[s.stopBits] : "?" + std::to_string(s.stopBits));
  std::string flow;
  const auto add = [&flow](bool on, const char* name) {
    if (on) flow += (flow.empty() ? "" : ", ") + std::string(name);
  };
  add(s.ctsFlow, "CTS");
  add(s.dsrFlow, "DSR");
  add(s.dtrControl == 2, "DTR handshake");
  add(s.rtsControl == 2, "RTS handshake");
  add(s.rtsControl == 3, "RTS toggle");
  add(s.xonXoffOut, "XON/XOFF out");
  add(s.xonXoffIn, "XON/XOFF in");
  Event e;
  e.kind = EventKind::Settings;
  e.what = text + (flow.empty() ? ", no flow control" : ", flow " + flow);
  e.outcome = outcome;
  return e;
}

std::string SettingsText(const LineSettings& settings) { return EventText(SettingsEvent(settings, Succeeded())); }

Event TimeoutsEvent(uint32_t readInterval, uint32_t readMultiplier, uint32_t readConstant,
                    uint32_t writeMultiplier, uint32_t writeConstant, const Outcome& outcome) {
  Event e;
  e.kind = EventKind::Timeouts;
  e.what = "read interval " + Limit(readInterval) + ", read " + Limit(readMultiplier) + " n + " +
           Limit(readConstant) + ", write " + Limit(writeMultiplier) + " n + " + Limit(writeConstant);
  e.outcome = outcome;
  return e;
}

std::string TimeoutsText(uint32_t readInterval, uint32_t readMultiplier, uint32_t readConstant,
                         uint32_t writeMultiplier, uint32_t writeConstant) {
  return EventText(
      TimeoutsEvent(readInterval, readMultiplier, readConstant, writeMultiplier, writeConstant, Succeeded()));
}

void ReadJoiner::polled(uintptr_t channel, uint32_t waiting, double ms) {
  std::deque<Arrival>& arrivals = arrivals_[channel];
  uint32_t known = 0;
  for (const Arrival& a : arrivals) known += a.left;
  const auto looked = lookedMs_.find(channel);
  // Before its first look a channel's bytes came after the log began.
  const double after = looked == lookedMs_.end() ? 0 : looked->second;
  if (waiting > known) {
    arrivals.push_back({++nextId_, waiting - known, waiting - known, ms, after});
  } else if (waiting < known) {  // bytes went without a read we saw
    arrivals.clear();
    if (waiting > 0) arrivals.push_back({++nextId_, waiting, waiting, ms, after});
  }
  lookedMs_[channel] = ms;
}

void ReadJoiner::wrote(uintptr_t channel, double ms) {
  flush();
  requestMs_[channel] = ms;
}

double ReadJoiner::byteMs(uintptr_t channel) const {
  const auto found = byteMs_.find(channel);
  return found == byteMs_.end() ? 0 : found->second;
}

double ReadJoiner::firstByteMs(uintptr_t channel, double readMs) const {
  const auto arrivals = arrivals_.find(channel);
  if (arrivals == arrivals_.end() || arrivals->second.empty()) return readMs;  // no poll saw them
  const Arrival& a = arrivals->second.front();
  const double atRate = a.seenMs - (a.size - 1) * byteMs(channel);
  return a.afterMs > atRate ? a.afterMs : atRate;
}

void ReadJoiner::read(uintptr_t channel, const std::string& where, const std::string& bytes,
                      uint32_t asked, double ms, double tookMs) {
  const bool sameChannel = line_.open && line_.channel == channel;
  std::deque<Arrival>& arrivals = arrivals_[channel];
  const uint64_t firstPiece = arrivals.empty() ? 0 : arrivals.front().id;
  const double came = firstByteMs(channel, ms);
  const bool samePiece = firstPiece != 0 && firstPiece == line_.lastPiece;
  // The bytes may have come as soon as the last look found none: only a
  // look between shows a gap.
  const double earliest = firstPiece != 0 && arrivals.front().afterMs >= 0 ? arrivals.front().afterMs : came;
  const bool soonAfter = earliest - line_.lastByteMs < IdleGapMs(byteMs(channel));
  const bool joins = sameChannel && (bytes.empty() ? line_.bytes.empty()
                                                   : !line_.bytes.empty() &&
                                                         (samePiece || (soonAfter && !line_.actionEnded)));
  if (!joins) {
    flush();
    line_.open = true;
    line_.channel = channel;
    line_.where = where;
    line_.startMs = ms;
    // Bytes first seen by a poll show at that time; the rest of an arrival
    // an earlier line began shows when it was read, and since when it waited;
    // bytes no poll announced show when the read that took them ended.
    line_.ms = ms + (bytes.empty() || firstPiece != 0 ? 0 : tookMs);
    if (!bytes.empty() && firstPiece != 0) {
      const Arrival& first = arrivals.front();
      if (first.left == first.size) {
        line_.ms = first.seenMs;
      } else {
        line_.sinceMs = first.seenMs;
      }
      line_.afterMs = first.afterMs;
    }
    // The rest of a piece that came before the request is no answer to it.
    const auto request = requestMs_.find(channel);
    if (!bytes.empty() && request != requestMs_.end() && line_.sinceMs < 0) {
      line_.latencyMs = came > request->second ? came - request->second : 0;
      // When no look came near the first byte the log knows only a bound.
      line_.latencyAtMost = came - std::max(earliest, request->second) > kLatencyKnownWithinMs;
      requestMs_.erase(request);
    }
  }
  size_t left = bytes.size();
  uint64_t lastPiece = 0;
  double lastSeen = ms + tookMs;
  while (left > 0 && !arrivals.empty()) {
    Arrival& a = arrivals.front();
    const uint32_t taken = left < a.left ? static_cast<uint32_t>(left) : a.left;
    a.left -= taken;
    left -= taken;
    lastPiece = a.id;
    lastSeen = a.seenMs;
    if (a.left == 0) arrivals.pop_front();
  }
  line_.bytes += bytes;
  line_.lastPiece = left > 0 ? 0 : lastPiece;  // 0: more than the polls had seen
  if (!bytes.empty()) line_.lastByteMs = left > 0 ? ms + tookMs : lastSeen;
  line_.endMs = ms + tookMs;
  line_.actionEnded = false;
  ++line_.reads;
  if (bytes.size() < asked) {  // a time-out ended it (or nothing was there)
    lookedMs_[channel] = ms + tookMs;
    line_.asked = asked;
    if (!bytes.empty()) flush();
  }
}

void ReadJoiner::neverRead(uintptr_t channel, const std::string& where, const std::string& bytes,
                           double ms) {
  flush();
  polled(channel, static_cast<uint32_t>(bytes.size()), ms);
  const std::deque<Arrival>& arrivals = arrivals_[channel];
  std::string note = "(never read";
  if (!arrivals.empty() && arrivals.front().afterMs >= 0) {
    note += ", came after " + Fixed(arrivals.front().afterMs);
  }
  emit_(DataLine(ms, where, '<', bytes, note + ")"));
  arrivals_.erase(channel);
}

void ReadJoiner::flush() {
  if (!line_.open) return;
  std::string note;
  const auto add = [&note](const std::string& part) { note += (note.empty() ? "(" : ", ") + part; };
  if (line_.reads > 1) add(std::to_string(line_.reads) + " reads");
  if (line_.latencyMs >= 0) {
    add(std::string("latency ") + (line_.latencyAtMost ? "at most " : "") + Fixed(line_.latencyMs) + " ms");
  }
  if (line_.asked != 0) add("asked " + std::to_string(line_.asked) + ", waited " + Ms(line_.endMs - line_.startMs));
  if (line_.sinceMs >= 0) add("waiting since " + Fixed(line_.sinceMs));
  if (line_.afterMs >= 0) add("came after " + Fixed(line_.afterMs));
  if (!note.empty()) note += ")";
  if (line_.bytes.empty()) note = "nothing  " + note;
  const std::string text = DataLine(line_.ms, line_.where, '<', line_.bytes, note);
  line_ = Line();
  emit_(text);
}

void ReadJoiner::forget(uintptr_t channel) {
  if (line_.open && line_.channel == channel) flush();
  arrivals_.erase(channel);
  lookedMs_.erase(channel);
  byteMs_.erase(channel);
  requestMs_.erase(channel);
}

}  // namespace nbspy

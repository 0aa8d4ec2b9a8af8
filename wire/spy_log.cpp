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

double SettingsByteMs(const std::string& text) {
  unsigned baud = 0, bits = 0;
  char parity = 0;
  char stop[4] = {};
  if (text.find(": refused") != std::string::npos ||
      std::sscanf(text.c_str(), "settings %u %1u%c%3[0-9.]", &baud, &bits, &parity, stop) != 4) {
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

std::string SettingsText(const LineSettings& s) {
  static const char kParity[] = "NOEMS";
  static const char* const kStop[] = {"1", "1.5", "2"};
  std::string text = "settings " + std::to_string(s.baud) + " " + std::to_string(s.byteSize) +
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
  return text + (flow.empty() ? ", no flow control" : ", flow " + flow);
}

std::string TimeoutsText(uint32_t readInterval, uint32_t readMultiplier, uint32_t readConstant,
                         uint32_t writeMultiplier, uint32_t writeConstant) {
  return "time-outs read interval " + Limit(readInterval) + ", read " + Limit(readMultiplier) +
         " n + " + Limit(readConstant) + ", write " + Limit(writeMultiplier) + " n + " +
         Limit(writeConstant);
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

#include "spy_log.h"

#include <cstdio>
#include <cstdlib>

#include "wire/device_file.h"
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

}  // namespace

std::string EventLine(double ms, const std::string& where, const std::string& what) {
  return Format("%9.1f %-6s ", ms, where) + what;
}

std::string DataLine(double ms, const std::string& where, char direction, const std::string& bytes,
                     const std::string& note) {
  char length[32];
  std::snprintf(length, sizeof length, "%c %5zu ", direction, bytes.size());
  std::string line = Format("%9.1f %-6s ", ms, where) + length;
  if (!bytes.empty()) line += nbdevice::Quoted(bytes) + (note.empty() ? "" : "  ");
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
  const size_t open = line.find_first_not_of(" 0123456789", at + 1);
  if (open == std::string::npos || line[open] != '"') {  // nothing came: the note says why
    if (open != std::string::npos) record.text = line.substr(open);
    return true;
  }
  std::string shown;
  for (at = open + 1; at < line.size() && line[at] != '"'; ++at) {
    if (line[at] == '\\' && at + 1 < line.size()) shown += line[at++];
    shown += line[at];
  }
  if (at == line.size() || !nbdevice::Unescape(shown, record.bytes)) return false;
  const size_t since = line.find("waiting since ", at);
  record.cameMs = since == std::string::npos ? record.ms : std::strtod(&line[since + 14], nullptr);
  const size_t after = line.find("came after ", at);
  if (after != std::string::npos) record.afterMs = std::strtod(&line[after + 11], nullptr);
  return true;
}

std::string ErrorText(uint32_t code) {
  static const std::map<uint32_t, const char*> kNames = {
      {1, "not supported by the device"}, {2, "no such file or device"},
      {3, "no such folder"},              {5, "access denied (in use?)"},
      {6, "not an open handle"},          {21, "the device is not ready"},
      {31, "the device does not work"},   {32, "in use by another program"},
      {50, "not supported"},              {87, "a setting the device refuses"},
      {112, "the disk is full"},          {183, "it exists already"},
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

void ReadJoiner::read(uintptr_t channel, const std::string& where, const std::string& bytes,
                      uint32_t asked, double ms, double tookMs) {
  const bool sameChannel = line_.open && line_.channel == channel;
  std::deque<Arrival>& arrivals = arrivals_[channel];
  const uint64_t firstPiece = arrivals.empty() ? 0 : arrivals.front().id;
  const bool joins = sameChannel && (bytes.empty() ? line_.bytes.empty()
                                                   : !line_.bytes.empty() && firstPiece != 0 &&
                                                         firstPiece == line_.lastPiece);
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
  }
  size_t left = bytes.size();
  uint64_t lastPiece = 0;
  while (left > 0 && !arrivals.empty()) {
    Arrival& a = arrivals.front();
    const uint32_t taken = left < a.left ? static_cast<uint32_t>(left) : a.left;
    a.left -= taken;
    left -= taken;
    lastPiece = a.id;
    if (a.left == 0) arrivals.pop_front();
  }
  line_.bytes += bytes;
  line_.lastPiece = left > 0 ? 0 : lastPiece;  // 0: more than the polls had seen
  line_.endMs = ms + tookMs;
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
}

}  // namespace nbspy

#include "device_from_log.h"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <vector>

#include "device_model.h"
#include "wire/spy_log.h"

namespace nbdevice {
namespace {

struct Exchange {
  std::string request;
  double requestMs;
  Answer answer;
  double lastMs;  // of the request, then of the answer's latest piece
};

// A time as a device file can give it: whole, 0 to kMostMilliseconds
// (a log may hold any number).
uint32_t Milliseconds(double ms) {
  if (!(ms > 0)) return 0;
  return ms >= kMostMilliseconds ? kMostMilliseconds : static_cast<uint32_t>(std::round(ms));
}

std::string AnswerText(const Answer& answer) {
  if (answer.empty()) return "silent";
  std::string text = "send";
  for (const Piece& piece : answer) {
    if (piece.waitMs > 0) text += " wait " + std::to_string(piece.waitMs);
    text += " " + Quoted(piece.bytes);
  }
  return text;
}

// The bytes the device sent, at the last moment the log shows they were not
// there yet (or, in logs without it, when they were first seen), never when
// the plug-in happened to read them: the device made from the log has them
// ready by the time the same script reads them. An LF a line receive left
// in the port came with its line.
void AddPiece(Answer& answer, double& lastMs, const nbspy::LogRecord& record) {
  const double came = record.afterMs >= 0 ? record.afterMs : record.cameMs;
  const uint32_t wait = Milliseconds(came - lastMs);
  answer.push_back({wait, record.bytes});
  lastMs += wait;  // where the device will have put it
}

// Output nobody asked for, as timed lines from the open. When it holds
// several lines (a scale streaming its readings) it is kept as a stream
// that goes on after the log's end: each line once a cycle, the cycle as
// long as the lines took, every line no later than the log saw it.
std::string TimedText(const Answer& pieces, double lastSeenMs, double openMs) {
  std::string bytes;
  std::vector<std::pair<size_t, double>> starts;  // each piece's first byte and time
  double at = 0;
  for (const Piece& piece : pieces) {
    at = std::min<double>(at + piece.waitMs, kMostMilliseconds);
    starts.push_back({bytes.size(), at});
    bytes += piece.bytes;
  }
  const std::string end = bytes.find("\r\n") != std::string::npos ? "\r\n"
                          : bytes.find('\n') != std::string::npos ? "\n"
                                                                  : "\r";
  std::vector<std::string> lines;
  std::vector<double> times;  // of each line's first byte
  for (size_t from = 0; from < bytes.size();) {
    size_t stop = bytes.find(end, from);
    stop = stop == std::string::npos ? bytes.size() : stop + end.size();
    double came = 0;
    for (const auto& start : starts) {
      if (start.first <= from) came = start.second;
    }
    lines.push_back(bytes.substr(from, stop - from));
    times.push_back(came);
    from = stop;
  }
  if (lines.size() < 2) {
    Answer once = pieces;
    const uint32_t first = once[0].waitMs;
    once[0].waitMs = 0;
    return "at " + std::to_string(first) + " " + AnswerText(once) + "\n";
  }
  // Lines seen apart give the period; lines all seen at once came one after
  // another between the last look before them and the moment they were
  // seen. Each line keeps the time of its piece when that is earlier.
  const double count = static_cast<double>(lines.size());
  const double span = times.back() > times.front() ? (times.back() - times.front()) / (count - 1)
                                                   : (lastSeenMs - openMs - times.front()) / count;
  const uint32_t period = std::max(1u, Milliseconds(span));
  const uint32_t cycle =
      Milliseconds(static_cast<double>(period) * static_cast<double>(lines.size()));
  std::string text;
  if (std::all_of(lines.begin(), lines.end(), [&](const std::string& l) { return l == lines[0]; })) {
    return "at " + std::to_string(Milliseconds(times.front())) + " every " +
           std::to_string(period) + " send " + Quoted(lines[0]) + "\n";
  }
  for (size_t k = 0; k < lines.size(); ++k) {
    const double even = times.front() + period * static_cast<double>(k);
    const uint32_t first = Milliseconds(std::min(times[k], even));
    text += "at " + std::to_string(first) + " every " + std::to_string(cycle) + " send " +
            Quoted(lines[k]) + "\n";
  }
  return text;
}

}  // namespace

LogConversion DeviceFromLog(const std::string& log, const std::string& port,
                            const std::string& logName) {
  LogConversion result;
  std::vector<nbspy::LogRecord> records;
  std::istringstream lines(log);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    nbspy::LogRecord record;
    if (nbspy::ParseLogLine(line, record) && !PortName(record.where).empty()) records.push_back(record);
  }
  result.port = NamedPort(port);
  bool exchanged = false, lineEndings = false;
  for (const nbspy::LogRecord& record : records) {
    if (result.port.empty() && record.direction != ' ') result.port = record.where;
    if (record.where != result.port || record.direction == ' ') continue;
    exchanged = true;
    if (record.direction == '>' && record.bytes.find_first_of("\r\n") != std::string::npos) {
      lineEndings = true;
    }
  }
  if (!exchanged) {
    result.error = logName + " shows no exchange with " + (port.empty() ? "a port" : port);
    return result;
  }

  RequestCutter cutter(lineEndings ? std::vector<std::string>{"\r", "\n"} : std::vector<std::string>{});
  std::vector<Exchange> exchanges;
  Answer greeting;
  double greetingLastMs = 0, openMs = 0, greetingSeenMs = 0;
  int sessions = 0;
  size_t sessionStart = 0;  // the first exchange of this session
  for (const nbspy::LogRecord& record : records) {
    if (record.where != result.port) continue;
    if (record.direction == ' ') {
      if (record.text.rfind("open ", 0) == 0 && record.text.find(": ok") != std::string::npos) {
        ++sessions;
        sessionStart = exchanges.size();
        cutter.clear();
        if (sessions == 1) greetingLastMs = openMs = record.ms;
      }
    } else if (record.direction == '>') {
      std::string request;
      for (char byte : record.bytes) {
        if (lineEndings && cutter.take(byte, request)) exchanges.push_back({request, record.ms, {}, record.ms});
      }
      // A write of nothing is no request.
      if (!lineEndings && !record.bytes.empty()) exchanges.push_back({record.bytes, record.ms, {}, record.ms});
    } else if (!record.bytes.empty()) {
      // The answer to the last request made before the bytes came (an LF a
      // line receive left is read after the next request).
      size_t owner = exchanges.size();
      while (owner > sessionStart && exchanges[owner - 1].requestMs > record.cameMs) --owner;
      if (owner > sessionStart) {
        AddPiece(exchanges[owner - 1].answer, exchanges[owner - 1].lastMs, record);
      } else if (sessions <= 1) {
        AddPiece(greeting, greetingLastMs, record);
        greetingSeenMs = record.ms;
      }
    }
  }

  std::ostringstream file;
  file << "# The device on " << result.port << " as " << logName << " shows it (made by nbrun"
       << " --spy-to-device).\n"
       << "requests end " << (lineEndings ? "\"\\r\" \"\\n\"" : "none") << "\n"
       << "answers end none\n";
  if (!greeting.empty()) file << TimedText(greeting, greetingSeenMs, openMs);
  for (const Exchange& exchange : exchanges) {
    file << "on " << Quoted(exchange.request) << " " << AnswerText(exchange.answer) << "\n";
  }
  result.deviceFile = file.str();
  result.ok = true;
  return result;
}

}  // namespace nbdevice

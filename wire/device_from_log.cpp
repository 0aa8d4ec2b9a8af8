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

// The bytes the device sent: when they came, not when the plug-in read them
// (an LF a line receive left in the port came with the line).
void AddPiece(Answer& answer, double& lastMs, const nbspy::LogRecord& record) {
  const double wait = std::max(0.0, std::round(record.cameMs - lastMs));
  answer.push_back({static_cast<uint32_t>(wait), record.bytes});
  lastMs += wait;  // where the device will have put it
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
  double greetingLastMs = 0;
  int sessions = 0;
  size_t sessionStart = 0;  // the first exchange of this session
  for (const nbspy::LogRecord& record : records) {
    if (record.where != result.port) continue;
    if (record.direction == ' ') {
      if (record.text.rfind("open ", 0) == 0 && record.text.find(": ok") != std::string::npos) {
        ++sessions;
        sessionStart = exchanges.size();
        cutter.clear();
        if (sessions == 1) greetingLastMs = record.ms;
      }
    } else if (record.direction == '>') {
      std::string request;
      for (char byte : record.bytes) {
        if (lineEndings && cutter.take(byte, request)) exchanges.push_back({request, record.ms, {}, record.ms});
      }
      if (!lineEndings) exchanges.push_back({record.bytes, record.ms, {}, record.ms});
    } else if (!record.bytes.empty()) {
      // The answer to the last request made before the bytes came (an LF a
      // line receive left is read after the next request).
      size_t owner = exchanges.size();
      while (owner > sessionStart && exchanges[owner - 1].requestMs > record.cameMs) --owner;
      if (owner > sessionStart) {
        AddPiece(exchanges[owner - 1].answer, exchanges[owner - 1].lastMs, record);
      } else if (sessions <= 1) {
        AddPiece(greeting, greetingLastMs, record);
      }
    }
  }

  std::ostringstream file;
  file << "# The device on " << result.port << " as " << logName << " shows it (made by nbrun"
       << " --spy-to-device).\n"
       << "requests end " << (lineEndings ? "\"\\r\" \"\\n\"" : "none") << "\n"
       << "answers end none\n";
  if (!greeting.empty()) {
    const uint32_t at = greeting[0].waitMs;
    greeting[0].waitMs = 0;
    file << "at " << at << " " << AnswerText(greeting) << "\n";
  }
  for (const Exchange& exchange : exchanges) {
    file << "on " << Quoted(exchange.request) << " " << AnswerText(exchange.answer) << "\n";
  }
  result.deviceFile = file.str();
  result.ok = true;
  return result;
}

}  // namespace nbdevice

#include "device_from_log.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <vector>

#include "device_model.h"
#include "serial/error_table.h"
#include "wire/port_names.h"
#include "wire/spy_log.h"
#include "wire/text.h"

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
  if (answer.size() == 1 && answer[0].close && answer[0].waitMs == 0) return "close";
  std::string text = "send";
  for (const Piece& piece : answer) {
    if (piece.waitMs > 0) text += " wait " + std::to_string(piece.waitMs);
    text += piece.close ? " close" : " " + QuotedAnswer(piece.bytes);
  }
  return text;
}

// The bytes the device sent, or its close, at the last moment the log shows
// they were not there yet (or, in logs without it, when they were first
// seen), never when the plug-in happened to read them: the device made from
// the log has them ready by the time the same script reads them. An LF a
// line receive left in the port came with its line.
void AddPiece(Answer& answer, double& lastMs, const nbspy::LogRecord& record) {
  const double came = record.afterMs >= 0 ? record.afterMs : record.cameMs;
  const uint32_t wait = Milliseconds(came - lastMs);
  Piece piece;
  piece.waitMs = wait;
  piece.bytes = record.bytes;
  piece.close = record.bytes.empty();
  answer.push_back(piece);
  lastMs += wait;  // where the device will have put it
}

// Bytes the device sent that the log shows came together: after `afterMs`
// (from the open), first seen at `seenMs`.
struct Arrived {
  double afterMs, seenMs;
  std::string bytes;
};

// A window the log gives for when a piece came that is wider than this
// (beyond its bytes' time on the line) leaves the times of the lines in
// it to a guess.
constexpr double kKnownWithinMs = 50;

// The shortest frame gap: writes closer than this are one request.
constexpr double kLeastFrameGapMs = 2;

// Output nobody asked for, as timed lines from the open. Each line comes
// when the log shows its first byte came; the lines of a piece the log
// saw only as a whole, long after the last look (a scale's readings taken
// by one flush), are spread evenly over it as a stream's lines would be
// (a line still coming when the piece was seen started its bytes' line
// time before), and `guess` says so, and come once. The lines seen as
// they came are kept as a stream that goes on after the log's end: each
// line once a cycle, the cycle as long as the lines took and one period
// more.
std::string TimedText(const std::vector<Arrived>& pieces, double byteMs, double openMs,
                      std::string& guess) {
  std::string bytes;
  for (const Arrived& piece : pieces) bytes += piece.bytes;
  const std::string end = bytes.find("\r\n") != std::string::npos ? "\r\n"
                          : bytes.find('\n') != std::string::npos ? "\n"
                                                                  : "\r";
  std::vector<size_t> starts;  // of each line
  for (size_t from = 0; from < bytes.size();) {
    starts.push_back(from);
    const size_t stop = bytes.find(end, from);
    from = stop == std::string::npos ? bytes.size() : stop + end.size();
  }
  std::vector<double> times;  // of each line's first byte
  size_t begin = 0, line = 0;
  size_t steady = 0;  // the first line after the last the log saw only in a bulk
  for (const Arrived& piece : pieces) {
    const size_t stop = begin + piece.bytes.size();
    const size_t first = line;
    while (line < starts.size() && starts[line] < stop) ++line;
    const size_t count = line - first;
    const double window = piece.seenMs - piece.afterMs;
    const bool spread =
        count >= 2 && window > static_cast<double>(piece.bytes.size()) * byteMs + kKnownWithinMs;
    // A piece that ends inside a line was still coming when it was seen;
    // one that ends with a whole line, a share of the window before.
    double lastStart = piece.afterMs;
    if (spread) {
      const bool whole = bytes.compare(stop - std::min(stop, end.size()), end.size(), end) == 0;
      const double tail = static_cast<double>(stop - starts[line - 1]) * byteMs;
      lastStart = whole ? piece.afterMs + window * static_cast<double>(count - 1) / static_cast<double>(count)
                        : std::max(piece.afterMs, piece.seenMs - tail);
    }
    for (size_t k = 0; k < count; ++k) {
      const double at = piece.afterMs + (lastStart - piece.afterMs) * static_cast<double>(k) /
                                            static_cast<double>(count > 1 ? count - 1 : 1);
      times.push_back(times.empty() ? at : std::max(times.back(), at));
    }
    if (spread) steady = line;
    if (spread && guess.empty()) {
      char text[200];
      std::snprintf(text, sizeof text,
                    "the %zu bytes first seen at %.1f ms came after %.1f ms: their %zu lines are "
                    "spread evenly over that time",
                    piece.bytes.size(), piece.seenMs + openMs, piece.afterMs + openMs, count);
      guess = text;
    }
    begin = stop;
  }
  std::vector<std::string> lines;
  for (size_t k = 0; k < starts.size(); ++k) {
    const size_t next = k + 1 < starts.size() ? starts[k + 1] : bytes.size();
    lines.push_back(bytes.substr(starts[k], next - starts[k]));
  }
  if (lines.size() < 2) {
    return "at " + std::to_string(Milliseconds(times[0])) + " send " + QuotedAnswer(bytes) + "\n";
  }
  // Lines of a bulk come once; the lines seen as they came go round.
  if (lines.size() - steady < 2) steady = 0;
  std::string text;
  for (size_t k = 0; k < steady; ++k) {
    text += "at " + std::to_string(Milliseconds(times[k])) + " send " + QuotedAnswer(lines[k]) + "\n";
  }
  const double span = times.back() - times[steady];
  const uint32_t period = std::max(1u, Milliseconds(span / static_cast<double>(lines.size() - steady - 1)));
  if (std::all_of(lines.begin() + steady, lines.end(), [&](const std::string& l) { return l == lines[steady]; })) {
    return text + "at " + std::to_string(Milliseconds(times[steady])) + " every " + std::to_string(period) +
           " send " + QuotedAnswer(lines[steady]) + "\n";
  }
  const uint32_t cycle = Milliseconds(span + period);
  for (size_t k = steady; k < lines.size(); ++k) {
    text += "at " + std::to_string(Milliseconds(times[k])) + " every " + std::to_string(cycle) +
            " send " + QuotedAnswer(lines[k]) + "\n";
  }
  return text;
}

// An event of this kind that went well.
bool Went(const nbspy::LogRecord& r, nbspy::EventKind kind) {
  return !r.isData() && r.event.kind == kind && r.event.outcome.ok();
}

// The records of the exchanges with one port or server, each session
// starting at its open or connect event.
class Selection {
 public:
  // The first port or server the log shows an exchange with; false when
  // it shows none.
  static bool FirstPlace(const std::vector<nbspy::LogRecord>& records, nbwire::Place& place) {
    std::string server;
    for (const nbspy::LogRecord& r : records) {
      if (r.where == nbspy::kConnectionWhere && Went(r, nbspy::EventKind::Connect)) {
        server = r.event.what;
      } else if (r.isData()) {
        return nbwire::ParsePlace(r.where == nbspy::kConnectionWhere ? server : r.where, place);
      }
    }
    return false;
  }

  // The records of `place`: a port's lines, or a server's connections.
  static std::vector<nbspy::LogRecord> Of(const std::vector<nbspy::LogRecord>& records, const nbwire::Place& place) {
    std::vector<nbspy::LogRecord> selected;
    if (!place.port.empty()) {
      for (const nbspy::LogRecord& r : records) {
        if (r.where == place.port) selected.push_back(r);
      }
      return selected;
    }
    const nbwire::ServerAddress& server = place.server;
    std::string found;  // the address the server's host was found at
    uint8_t dotted[4];
    if (nbwire::DottedAddress(server.host, dotted)) found = server.host;
    bool connected = false;
    for (const nbspy::LogRecord& r : records) {
      if (r.where != nbspy::kConnectionWhere) continue;
      if (!r.isData()) {
        if (r.event.kind == nbspy::EventKind::Find && nbwire::SameHost(r.event.what, server.host)) {
          found = r.event.outcome.ok() ? r.event.address : std::string();  // not found: no connect is to it
        }
        if (Went(r, nbspy::EventKind::Connect)) {
          connected = !found.empty() && r.event.what == found + ":" + std::to_string(server.port);
        }
        if (!connected) continue;
        if (r.event.kind == nbspy::EventKind::Close) connected = false;
      }
      if (connected) selected.push_back(r);
    }
    return selected;
  }

  // The session start a record marks: a port's open, a connection's connect.
  static bool Starts(const nbspy::LogRecord& r) {
    return Went(r, nbspy::EventKind::Open) || Went(r, nbspy::EventKind::Connect);
  }
};

// Writes that follow each other closer than a frame gap are one request,
// as a Modbus RTU slave hears them: 3.5 character times at the port's rate
// from the end of one write on the line to the start of the next, and at
// least kLeastFrameGapMs; judged from the log's times.
std::vector<nbspy::LogRecord> JoinFrames(const std::vector<nbspy::LogRecord>& records) {
  std::vector<nbspy::LogRecord> joined;
  double byteMs = 0, lineFreeMs = 0;
  for (const nbspy::LogRecord& r : records) {
    if (nbspy::SettingsByteMs(r.event) > 0) byteMs = nbspy::SettingsByteMs(r.event);
    const bool write = r.direction == '>' && !r.bytes.empty();
    if (write && !joined.empty() && joined.back().direction == '>' && !joined.back().bytes.empty() &&
        r.ms - lineFreeMs < std::max(3.5 * byteMs, kLeastFrameGapMs)) {
      joined.back().bytes += r.bytes;
      joined.back().ms = r.ms;  // the request is whole from its last piece on
    } else {
      joined.push_back(r);
    }
    if (write) lineFreeMs = r.ms + static_cast<double>(r.bytes.size()) * byteMs;
  }
  return joined;
}

// A text for a comment of the device file: the bytes that would end or
// break its line (a NUL, CR, LF and the other control bytes of a damaged
// log) shown as \xHH.
std::string CommentText(const std::string& text) {
  std::string shown;
  for (char c : text) shown += static_cast<unsigned char>(c) < 0x20 ? nbwire::Visible(std::string(1, c)) : std::string(1, c);
  return shown;
}

// A log of a played device says so: what it played as faults, the made
// device replays as the device's own bytes.
std::string PlayedText(const std::vector<nbspy::LogRecord>& records) {
  std::vector<std::string> notes;  // each once: the seed comes at every open
  for (const nbspy::LogRecord& record : records) {
    if (record.isData() || record.event.kind != nbspy::EventKind::Played) continue;
    const std::string note = CommentText(record.event.what);
    if (std::find(notes.begin(), notes.end(), note) == notes.end()) notes.push_back(note);
  }
  if (notes.empty()) return std::string();
  std::string shown;
  for (size_t k = 0; k < notes.size() && k < 3; ++k) shown += (k ? "; " : "") + notes[k];
  return "# The log is of a played device (" + shown + (notes.size() > 3 ? "; ..." : "") +
         "): what it played, faults included, comes again as it came.\n";
}

}  // namespace

// A device pulled out as a log shows it: calls on the port failing with a
// code a removed adapter gives, then opens failing until one succeeds. The
// device file's unplug and plug in go halfway between the last call that
// worked and the first that failed, and between the last refused open and
// the one that worked, so a replay meets them between the same calls.
struct Removal {
  bool seen = false;
  uint32_t code = 0;
  double unplugMs = 0;  // from the open of the session it came in
  double plugMs = -1;   // from the same open; -1: never back
};

// The Windows code of a call that failed ("... failed: error N"), or 0.
uint32_t FailureCode(const nbspy::LogRecord& r) {
  return !r.isData() && r.event.kind == nbspy::EventKind::Failed ? r.event.outcome.error : 0;
}

// The server's end reset the connection (WSAECONNRESET).
bool ConnectionReset(const nbspy::LogRecord& r) {
  return r.where == nbspy::kConnectionWhere && FailureCode(r) == 10054;
}

// A reset answers what was sent to a server that had closed: it closed
// right after its last answer and heard nothing after it, as a device made
// from the log then does (the request after it gets the reset again).
void ClosedBefore(std::vector<Exchange>& exchanges, size_t sessionStart, Answer& greeting) {
  size_t last = exchanges.size();
  while (last > sessionStart && exchanges[last - 1].answer.empty()) --last;
  exchanges.erase(exchanges.begin() + static_cast<std::ptrdiff_t>(last), exchanges.end());
  Answer& answer = last > sessionStart ? exchanges[last - 1].answer : greeting;
  if (answer.empty() || !answer.back().close) {
    Piece close;
    close.close = true;
    answer.push_back(close);
  }
}

Removal RemovalOf(const std::vector<nbspy::LogRecord>& records) {
  Removal removal;
  double openMs = 0, lastWorked = 0, lastRefused = 0;
  for (const nbspy::LogRecord& r : records) {
    const bool opened = Went(r, nbspy::EventKind::Open);
    if (!removal.seen) {
      const uint32_t code = FailureCode(r);
      if (code != 0 && wl::IsRemovalCode(code)) {
        removal = {true, code, (lastWorked + r.ms) / 2 - openMs, -1};
      } else {
        if (opened) openMs = r.ms;
        lastWorked = r.ms;
      }
    } else if (opened) {
      removal.plugMs = (lastRefused + r.ms) / 2 - openMs;
      break;
    }
    lastRefused = r.ms;
  }
  return removal;
}

LogConversion DeviceFromLog(const std::string& log, const std::string& place,
                            const std::string& logName, const std::string& maker) {
  LogConversion result;
  std::vector<nbspy::LogRecord> records;
  std::istringstream lines(log);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    nbspy::LogRecord record;
    if (nbspy::ParseLogLine(line, record)) records.push_back(record);
  }
  nbwire::Place played;
  const bool found = nbwire::ParsePlace(place, played) || Selection::FirstPlace(records, played);
  result.port = found ? nbwire::PlaceName(played) : std::string();
  records = found ? Selection::Of(records, played) : std::vector<nbspy::LogRecord>();
  bool exchanged = false, lineEndings = false;
  for (const nbspy::LogRecord& record : records) {
    exchanged = exchanged || record.isData();
    if (record.direction == '>' && record.bytes.find_first_of("\r\n") != std::string::npos) lineEndings = true;
  }
  if (!exchanged) {
    result.error = logName + " shows no exchange with " + (place.empty() ? "a port or server" : place);
    return result;
  }

  records = JoinFrames(records);
  RequestCutter cutter(lineEndings ? std::vector<std::string>{"\r", "\n"} : std::vector<std::string>{});
  std::vector<Exchange> exchanges;
  Answer greeting;
  std::vector<Arrived> unasked;  // the greeting's bytes, for a stream
  double greetingLastMs = 0, openMs = 0, byteMs = 0, sessionOpenMs = 0;
  int sessions = 0;
  int greetingSession = -1;  // the session whose unasked bytes the device sends
  size_t sessionStart = 0;  // the first exchange of this session
  for (const nbspy::LogRecord& record : records) {
    if (nbspy::SettingsByteMs(record.event) > 0) byteMs = nbspy::SettingsByteMs(record.event);
    if (Selection::Starts(record)) {
      ++sessions;
      sessionStart = exchanges.size();
      cutter.clear();
      sessionOpenMs = record.ms;
    } else if (record.direction == '>') {
      std::string request;
      for (char byte : record.bytes) {
        if (lineEndings && cutter.take(byte, request)) exchanges.push_back({request, record.ms, {}, record.ms});
      }
      // A write of nothing is no request.
      if (!lineEndings && !record.bytes.empty()) exchanges.push_back({record.bytes, record.ms, {}, record.ms});
    } else if (ConnectionReset(record)) {
      ClosedBefore(exchanges, sessionStart, greeting);
    } else if (!record.bytes.empty() || record.peerClosed()) {
      // The answer to the last request made before the bytes came; the rest
      // of a piece an earlier line began ("waiting since": an LF a line
      // receive left, read after the next request) is the rest of that answer.
      size_t owner = exchanges.size();
      if (record.cameMs < record.ms) {
        while (owner > sessionStart && exchanges[owner - 1].answer.empty()) --owner;
        if (owner == sessionStart) owner = exchanges.size();
      }
      while (owner > sessionStart && exchanges[owner - 1].requestMs > record.cameMs) --owner;
      Answer& answer = owner > sessionStart ? exchanges[owner - 1].answer : greeting;
      if (!answer.empty() && answer.back().close) continue;  // the end shows once
      if (owner > sessionStart) {
        AddPiece(answer, exchanges[owner - 1].lastMs, record);
      } else if (greetingSession < 0 || greetingSession == sessions) {
        // What a device sends unasked it sends after each open: the first
        // session that shows some gives it (one before may have read nothing).
        if (greetingSession < 0) {
          greetingSession = sessions;
          greetingLastMs = openMs = sessionOpenMs;
        }
        AddPiece(greeting, greetingLastMs, record);
        if (!record.bytes.empty()) {
          // Nothing came before the port was opened, whatever the spy last saw.
          const double after = std::max(record.afterMs >= 0 ? record.afterMs : record.cameMs, openMs);
          unasked.push_back({after - openMs, record.cameMs - openMs, record.bytes});
        }
      }
    }
  }

  std::ostringstream file;
  file << "# The device on " << result.port << " as " << logName << " shows it (made by " << maker
       << ").\n"
       << "requests end " << (lineEndings ? "\"\\r\" \"\\n\"" : "none") << "\n"
       << "answers end none\n"
       << "# Its bytes come at the port's rate from when the log shows they came.\n"
       << PlayedText(records);
  // A server that closed before anything was asked closes again at that time.
  uint32_t closesAt = 0;
  const bool closes = !greeting.empty() && greeting.back().close;
  for (const Piece& piece : greeting) closesAt = std::min(closesAt + piece.waitMs, kMostMilliseconds);
  if (!unasked.empty()) {
    std::string guess;
    const std::string timed = TimedText(unasked, byteMs, openMs, guess);
    if (!guess.empty()) {
      result.warning = logName + " shows only that " + guess;
      file << "# Perhaps not as the device did: the log shows only that " << guess << ".\n";
    }
    file << timed;
  }
  if (closes) file << "at " << closesAt << " close\n";
  const Removal removal = RemovalOf(records);
  if (removal.seen) {
    file << "# Pulled out as the log shows (its calls failed with " << removal.code
         << "); the times count from each open.\n"
         << "at " << Milliseconds(removal.unplugMs) << " unplug error " << removal.code << "\n";
    if (removal.plugMs >= 0) file << "at " << Milliseconds(removal.plugMs) << " plug in\n";
  }
  for (const Exchange& exchange : exchanges) {
    file << "on " << Quoted(exchange.request) << " " << AnswerText(exchange.answer) << "\n";
  }
  // A log whose device sent nothing makes a device that says nothing, on purpose.
  if (file.str().find("\nat ") == std::string::npos && file.str().find("\non ") == std::string::npos) {
    file << "silent device\n";
  }
  result.deviceFile = file.str();
  result.ok = true;
  return result;
}

}  // namespace nbdevice

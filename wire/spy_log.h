// The spy's log: one short line for each exchange between a plug-in and the
// outside world, aligned so that a dialogue reads from top to bottom.
//
//   # spy log, format 2: time in ms, where, what (> the plug-in sent, < came back)
//       0.0 COM1   open "COM1": ok
//       0.4 COM1   settings 9600 8N1, no flow control
//       1.1 COM1   >     4 "ID\r\n"
//      16.9 COM1   <    14 "WL-SCALE,1.0\r\n"  (14 reads, latency 2.1 ms, came after 1.2)
//      20.0 COM1   >     8 01 03 00 00 00 02 C4 0B  "........"
//      34.0 COM1   <     9 01 03 04 00 E7 01 F4 4A 13  ".......J."  (9 reads, latency 5.0 ms)
//     140.2 COM1   <     0 nothing  (asked 1, waited 210 ms)
//     211.7 COM1   close: ok
//     212.0 TCP    connect 127.0.0.1:5000: error 10061, connection refused
//
// The first line names the format; it is written when the file is new. The
// time is in milliseconds since the spy started; ">" is what the plug-in
// sent, "<" what came back, with its length and its bytes: as the runner
// shows them (\r, \n, \t, \\, \") when they are all text, else in hex with
// their text beside it ("." for a byte that is not text). An answer is one
// line however many reads took it: the pieces that came less than an idle
// gap apart (3.5 character times at the port's rate, at least 5 ms) are
// joined, and the line shows when its first bytes were seen, how many reads
// took them, and the time from the request before it to its first byte
// (latency; "latency at most" when no look at the queue came near it). The rest of a piece that an earlier line began (an LF a line
// receive left in the port) shows when it was read, "waiting since" the
// piece came; "came after" is the last moment the spy saw the bytes were
// not there yet. Settings, time-outs and queues show once per change.
// Notes in parentheses are words of their own, comma-separated, so more
// can follow without a change of format.
//
// The words of an event line are one of the kinds of Event below: the spy
// builds events, EventText writes them and ReadEvent reads them back, so a
// reader of the log (a device made from it, its page) finds the open of a
// port or the connect of a connection by its kind, never by its words.
//
// Logs of format 1 (a header without "#", text lines only) read back as
// well. Pure code: no Windows here (the spy itself is spy_hooks.h).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>

namespace nbspy {

// Where the log shows the TCP connection, and the note of a receive that
// found the connection closed by the peer.
constexpr char kConnectionWhere[] = "TCP";
constexpr char kPeerClosed[] = "the peer closed the connection";

// An event line that a played device noted (played_notes.h) begins so:
// "played: seed 7", "played: garbled byte 7 by line 12".
constexpr char kPlayedNote[] = "played: ";

// The log's first line, written when its file is new.
constexpr char kLogHeader[] =
    "# spy log, format 2: time in ms, where, what (> the plug-in sent, < came back)";

// The idle gap that ends an answer: 3.5 character times at the port's rate
// (`byteMs` a character; 0 for a connection), at least 5 ms.
double IdleGapMs(double byteMs);

std::string EventLine(double ms, const std::string& where, const std::string& what);

// How a call ended: "ok", an error ("error 5, access denied (in use?)"),
// or, for a connect under way when its socket closed, "given up".
struct Outcome {
  enum Is : uint8_t { Ok, Failed, GivenUp };
  Is is = Ok;
  uint32_t error = 0;  // of a failure
  bool ok() const { return is == Ok; }
  bool operator==(const Outcome& o) const { return is == o.is && error == o.error; }
};
Outcome Succeeded();
Outcome FailedWith(uint32_t error);
std::string OutcomeText(const Outcome& outcome);

// What an event line says, by kind, with the text each shows:
//   Open        open "COM1": ok           open "out.txt" to write: error 5, ...
//   Close       close: ok                 close "out.txt" (12 bytes written): ok
//   Failed      read of 5 bytes failed: error 6, not an open handle
//   Settings    settings 9600 8N1, no flow control      (...: refused, error 87, ...)
//   Timeouts    time-outs read interval 500, ...        (...: refused, ...)
//   Queues      queues receive 4096, transmit 4096: ok
//   LineErrors  line errors: overrun, framing
//   Find        find "scale.local": 127.0.0.1           find "x": error 11001, ...
//   Connect     connect 127.0.0.1:5000: ok              (error ..., given up)
//   Waited      waited 500 ms to receive: time-out
//   Played      played: seed 7                          (what a played device noted)
//   Repeated    the line above 3 times more
//   Other       any other text (a later format's), kept whole
enum class EventKind : uint8_t {
  Open, Close, Failed, Settings, Timeouts, Queues, LineErrors, Find, Connect, Waited, Played, Repeated, Other
};

struct Event {
  EventKind kind = EventKind::Other;
  // What the kind is about: the file as the plug-in named it (Open; Close
  // of a file, empty for a port's or the connection's), the call that
  // failed ("read of 5 bytes"), the settings, time-outs, queues or line
  // errors after their first word ("9600 8N1, no flow control"), the host
  // looked for, the peer ("127.0.0.1:5000"), the wait ("500 ms to
  // receive"), the note, the count of repeats; Other: the whole text.
  std::string what;
  std::string access;       // Open of a file: " to read", " to write", " to read and write"
  uint64_t written = 0;     // Close of a file: its bytes written and read
  uint64_t read = 0;
  std::string address;      // Find: the address found
  Outcome outcome;          // Settings, Timeouts: Failed when refused
  bool operator==(const Event& e) const {
    return kind == e.kind && what == e.what && access == e.access && written == e.written && read == e.read &&
           address == e.address && outcome == e.outcome;
  }
};

// An event of `kind` about `what` (Event::what), that ended so.
Event MakeEvent(EventKind kind, const std::string& what, const Outcome& outcome = Succeeded());

// The words of an event line, and the event they say.
std::string EventText(const Event& event);
Event ReadEvent(const std::string& text);

// A line of bytes in direction '>' or '<'; an empty `bytes` is shown by the
// note alone.
std::string DataLine(double ms, const std::string& where, char direction, const std::string& bytes,
                     const std::string& note = std::string());

// A line of the log read back.
struct LogRecord {
  double ms = 0;
  std::string where;
  char direction = ' ';  // '>', '<', or ' ' for an event
  std::string bytes;     // of a data line
  double cameMs = 0;     // when its bytes came: the time, or "waiting since"
  double afterMs = -1;   // the last time they were not there yet ("came after"); -1: unknown
  double latencyMs = -1;  // from the request before it to its first byte; -1: none shown
  bool latencyAtMost = false;  // the log knows only that it was no longer
  int reads = 1;          // how many reads took its bytes
  std::string text;      // of an event line: "open \"COM1\": ok"; of a data
                         // line without bytes, its note ("the peer closed
                         // the connection")
  Event event;           // of an event line: what its text says
  std::string note;      // of a data line: the words in parentheses
  bool isData() const { return direction != ' '; }
  // A receive that found the connection closed by the peer.
  bool peerClosed() const { return direction == '<' && bytes.empty() && text == kPeerClosed; }
};
bool ParseLogLine(const std::string& line, LogRecord& record);

// "error 2, no such file or device" (the name only for codes that come up
// with ports, files and sockets).
std::string ErrorText(uint32_t code);

// A port's settings as a DCB holds them.
struct LineSettings {
  uint32_t baud = 0;
  uint32_t byteSize = 8;
  uint32_t parity = 0;    // 0 to 4: none, odd, even, mark, space
  uint32_t stopBits = 0;  // 0, 1, 2: 1, 1.5, 2
  bool ctsFlow = false;
  bool dsrFlow = false;
  uint32_t dtrControl = 0;  // 2: handshake
  uint32_t rtsControl = 0;  // 2: handshake, 3: toggle
  bool xonXoffOut = false;
  bool xonXoffIn = false;
};
// The event of settings set (or, `outcome` failed, refused).
Event SettingsEvent(const LineSettings& settings, const Outcome& outcome);
// "settings 9600 8N1, no flow control", "settings 19200 7E2, flow CTS, XON/XOFF in"
std::string SettingsText(const LineSettings& settings);

// The milliseconds a character takes at the settings an event shows
// ("settings 9600 8N1, ..."); 0 for any other event, or refused settings.
double SettingsByteMs(const Event& event);

// The event of time-outs set: "time-outs read interval 500, read 10 n +
// 200, write 1 n + 500" (max for MAXDWORD).
Event TimeoutsEvent(uint32_t readInterval, uint32_t readMultiplier, uint32_t readConstant,
                    uint32_t writeMultiplier, uint32_t writeConstant, const Outcome& outcome);
std::string TimeoutsText(uint32_t readInterval, uint32_t readMultiplier, uint32_t readConstant,
                         uint32_t writeMultiplier, uint32_t writeConstant);

// Gathers the reads of each channel into answer lines: polls of the bytes
// waiting tell where one arrival ends and the next begins, and when it
// came. A read joins the open line when nothing else was logged in between
// and its bytes are of the same arrival as the read before it, or, in the
// same action, came less than an idle gap after it (at the line's rate the first byte of an
// arrival of n bytes was there n - 1 characters before the poll saw it
// all). An arrival came between the last look that did not find it (a
// poll, or a read that emptied the queue) and the poll that did: the line
// says "came after" the first, so a device made from the log answers in
// time.
class ReadJoiner {
 public:
  using Emit = std::function<void(const std::string& line)>;
  explicit ReadJoiner(Emit emit) : emit_(std::move(emit)) {}

  // `channel`'s characters take `byteMs` each from now on (0: a connection).
  void setByteTime(uintptr_t channel, double byteMs) { byteMs_[channel] = byteMs; }
  // The plug-in's request on `channel` was on the line at `ms`: the next
  // answer line shows its latency from then.
  void wrote(uintptr_t channel, double ms);
  // A poll at `ms` found `waiting` bytes in `channel`'s receive queue.
  void polled(uintptr_t channel, uint32_t waiting, double ms);
  // A read that began at `ms`, asked for `asked` bytes, took `bytes` and
  // lasted `tookMs`.
  void read(uintptr_t channel, const std::string& where, const std::string& bytes, uint32_t asked,
            double ms, double tookMs);
  // Bytes still waiting when `channel` closes, taken out for the log: a
  // line of their own, "never read".
  void neverRead(uintptr_t channel, const std::string& where, const std::string& bytes, double ms);
  // The plug-in's action ended (the host was told its outcome): a line
  // open now takes only more bytes of the same arrival (a binary answer
  // read a byte an action); the next piece is another answer.
  void actionEnded() { line_.actionEnded = true; }
  // Writes the open line, if any.
  void flush();
  // The channel closed.
  void forget(uintptr_t channel);

 private:
  struct Arrival {
    uint64_t id;
    uint32_t size;
    uint32_t left;  // bytes of it not read yet
    double seenMs;
    double afterMs;  // the last look that did not find it; -1: none
  };
  struct Line {
    bool open = false;
    uintptr_t channel = 0;
    std::string where;
    double ms = 0;                   // the time shown
    double sinceMs = -1;             // when its first bytes came, if before they show
    double afterMs = -1;             // when its first bytes were not there yet
    double startMs = 0, endMs = 0;  // from its first read's start to its last's end
    std::string bytes;
    int reads = 0;
    uint32_t asked = 0;      // of a read that came back short
    uint64_t lastPiece = 0;  // the arrival its last byte came from (0: unknown)
    double lastByteMs = 0;   // when its last bytes were there
    double latencyMs = -1;
    bool latencyAtMost = false;
    bool actionEnded = false;  // since its last read
  };
  double byteMs(uintptr_t channel) const;
  // When the first of `bytes` came, as far as the log can tell.
  double firstByteMs(uintptr_t channel, double readMs) const;

  Emit emit_;
  std::map<uintptr_t, std::deque<Arrival>> arrivals_;
  std::map<uintptr_t, double> lookedMs_;  // the last look at each channel's queue
  std::map<uintptr_t, double> byteMs_;
  std::map<uintptr_t, double> requestMs_;  // a request not answered yet, when it was on the line
  uint64_t nextId_ = 0;
  Line line_;
};

}  // namespace nbspy

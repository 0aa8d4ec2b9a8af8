// The device file: a serial device or a TCP server described in a small
// text format that an author writes by hand, or that nbrun --spy-to-device
// makes from a spy log. nbrun --device COMn=FILE (or HOST:PORT=FILE) and
// Wirebench's wbPlay play it instead of the system.
//
// One statement a line (lines end with CR LF, LF or CR; a UTF-8 byte order
// mark at the start is skipped); texts are in double quotes with the
// escapes the runner shows bytes in (\r \n \t \\ \" \xHH); # starts a
// comment. Numbers are whole milliseconds, 0 to 999,999,999.
//
//   requests end "\r" "\n"    a request ends at any of these texts (the
//                             default); empty requests are not heard
//   requests end none         no ending: a request is heard as soon as the
//                             bytes since the last one end with it
//   answers end "\r\n"        added after every answer (the default)
//   answers end none          answers are sent exactly as written
//   line rate none            the device's bytes reach a played port as soon
//                             as they are due, not held to the port's rate
//                             (a device made from a log, whose times are
//                             already the line's); line rate port: held
//                             to it (the default)
//   on "ID" send "WL-SCALE,1.0"          an exact request and its answer
//   match "ECHO (.*)" send "$1"          a pattern for the whole request
//                             (pattern.h); $1 ... $20 in the answer are its
//                             groups, $& all of it, $$ one $; any other $
//                             is itself
//   on "W" send wait 40 "ST,GS," wait 5 "+0012.34 kg"
//                             wait MS before the next piece: an answer late,
//                             or in pieces (the ending goes after the last)
//   on "HELLO" silent         heard, never answered
//   on "QUIT" send "BYE" close  after its answer the device ends the
//                             connection (a server closes it; a device on a
//                             port falls silent until the port is opened
//                             again); "close" alone ends it without a word,
//                             "wait MS close" after a pause
//   otherwise send "ERR"      the answer to any request no line names
//   at 500 send "READY"       once, 500 ms after the port is opened
//   every 1000 send "ST,GS,+0012.34 kg"  every second while it is open
//   at 0 every 1000 send ...  the same, the first one at once
//   at 30000 close            a server that ends the connection after 30 s
//   baud 4800                 the device talks at this rate only: on a port
//                             set to another it hears nothing and what it
//                             sends arrives garbled, line ends kept (a
//                             server ignores it)
//   at 5000 unplug            the adapter is pulled out 5 s after the open:
//                             opening the port fails with 2 and every call
//                             on the handle opened before with the removal
//                             code (error 1617: unplug error 1617; 22 when
//                             not given); it stays unplugged, across closes
//                             and opens, until it is plugged in again
//   at 8000 plug in           plugged in again: the port opens once the
//                             stale handle is closed (5 until then)
//   on "RESET" unplug then plug in after 2000
//                             in answer to a request: out at once, back
//                             2 s later (a played server falls silent
//                             while unplugged)
//   starts in "echo"          the mode the device is in after each open
//   in "echo" on "AT" send "AT\r\r\nOK"
//                             a line that answers only in that mode
//   on "ATE0" send "OK" then "quiet"
//                             the device is in that mode from then on
//   in "streaming" every 100 send ...
//                             a stream (or at) counted from when the device
//                             enters the mode, stopped when it leaves it
//   seed 7                    every random choice's seed (1 when not given)
//   on "W" send wait 20..300 "x"   a wait (or an every) drawn from a range
//   on "W" send "x" lose 1 in 5    faults after the texts: lose, cut [after
//                             N], garble, repeat, each "M in K" or "every K";
//                             answers lose every 5: a fault of every answer
//   noise every 500..3000 "\x00"  a random byte (of those) on an idle line
//   on "Q" send "PART" noend close its line end left out
//   answers out of order      each answer after its own delay alone (else
//                             in the order asked, each counted from the
//                             request or the end of the one before)
//   set "sp" "50"             a value's first value; as a clause before
//                             send: match "SP (\d+)" set "sp" "$1" send "OK"
//   table "hr" 0..15 = 231 500  a table (entries not given are 0)
//   on "Q" send "{sp} {count n} {walk 23.0 0.1 20..25 %.1f} {time hhmmss.ss}"
//                             templates (device_values.h), checksums
//                             included: "$GPXTE,A*{nmea}", "...{crc16}"
//   requests end gap          a request ends where the line goes quiet
//   requests check crc16      a request whose checksum is wrong is unheard
//   silent device             a file that answers nothing, on purpose
//
// The line itself, a host's signals and a server's connections:
//   every 5000 fault framing  a line error (parity, framing, overrun) or a
//   on "S" send "12.3" fault parity   break, as a piece of an answer: the
//                             port reports it at its next ClearCommError
//   at 3000 modem cts on dsr off   the device sets its modem lines (cts,
//                             dsr, dcd, ring; at first CTS and DSR on)
//   on dtr off send "NO CARRIER" modem dcd off then "command"
//   on rts on restart         what the device does when the host changes
//                             DTR or RTS (SetCommState, EscapeCommFunction,
//                             the open, the close); restart: the device
//                             starts again as after an open
//   on "KILL" send "BYE" reset  a server resets the connection (RST)
//   refuse first 2            a server refuses its first 2 connects
//   window 4096               at most that many of a server's bytes wait
//                             unread in the connection (65536 when not
//                             given); the rest waits in the server
//
// A request is answered by the first on or match line in the file that
// names it, by otherwise only when none does. Several lines for the same
// request (the same text after on, or the same pattern after match) take
// turns, in file order, starting again after the last: a device whose
// answers change (a scale whose every fourth reading is unstable). Without
// an answer for a request (no line, no otherwise) the device stays silent,
// as most devices do. on "" (never heard) and a second otherwise are
// refused with their line; so is a pattern that matches no bytes when
// requests have no ending (it would answer every byte), a mode no then or
// starts in enters, a then to a mode without lines that is not the start
// mode, $10 where the pattern has fewer groups, a value nothing sets, and
// a file that answers and sends nothing without saying silent device. A
// line whose answer cannot be made (a table read outside it) lets the next
// line that names the request answer. A request longer than 65,536 bytes
// is not answered.
// Pure code: no Windows here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "wire/device_values.h"

namespace nbdevice {

// What a port's line does besides carrying bytes, as a piece plays it: a
// line error or a break the port reports, modem lines the device sets.
enum class LineFault : uint8_t { None, Parity, Framing, Overrun, Break };
// The device's modem lines, one bit each.
constexpr uint8_t kCtsLine = 1, kDsrLine = 2, kDcdLine = 4, kRingLine = 8;
// Lines a piece sets: those in `mask` to their bit in `on`.
struct ModemSet {
  uint8_t mask = 0, on = 0;
};

// One piece of an answer: sent `waitMs` after the piece before it (or after
// the request, or the moment of a timed answer, for the first piece). A
// closing piece, always the last, has no bytes: the device ends the
// connection then. An unplugging piece (perhaps followed by a plugging one)
// has none either: the device is removed from its port, or put back.
struct Piece {
  uint32_t waitMs = 0;
  std::string bytes;  // as the file writes it, templates unfilled
  bool close = false;
  bool unplug = false;
  bool plugIn = false;
  uint32_t error = 0;  // an unplug's removal code; 0: the port's default
  uint32_t waitMostMs = 0;  // above waitMs: the wait is drawn from waitMs to this (wait 20..300)
  Template made;            // the bytes read as a template
  // The line's events (no bytes either): a fault, modem lines, a reset of
  // the connection (a close that a server's RST ends), a restart of the
  // device as after an open.
  LineFault fault = LineFault::None;
  ModemSet modem{};
  bool reset = false;
  bool restart = false;
  int line = 0;  // in the file, for the notes of what was played
  bool lineEvent() const { return fault != LineFault::None || modem.mask != 0 || reset || restart; }
  bool text() const { return !close && !unplug && !plugIn && !lineEvent(); }
};

// An answer; none (silent) has no pieces.
using Answer = std::vector<Piece>;

// HostLine: a change of the host's DTR or RTS ("dtr on", "rts off").
enum class RequestKind { Exact, Pattern, Otherwise, HostLine };

// A fault played on an answer: for `chance` answers in `in` (lose 1 in 5),
// or every `every`th (lose every 5).
struct Fault {
  enum class Kind : uint8_t { Lose, Cut, Garble, Repeat };
  Kind kind = Kind::Lose;
  uint32_t chance = 0, in = 0;
  uint32_t every = 0;
  uint32_t cutAfter = 0;  // cut after N; 0: after a random number of bytes
  int line = 0;           // the fault's line, which the device's notes name
};

// set "sp" "$1" (a value) or set "hr" "{#1}" "{#2}" (a table's entry).
struct Setting {
  std::string name;
  bool entry = false;
  Template index, value;
};

// What an answer does besides its pieces.
struct Delivery {
  std::vector<Setting> sets;  // made before the answer, which sees them
  std::vector<Fault> faults;
  bool noEnd = false;  // its ending left out (noend)
};

// The largest number of milliseconds a file may give (about 11.5 days).
constexpr uint32_t kMostMilliseconds = 999999999;
// A played server's window when its file gives none: TCP's classic 64 KiB.
constexpr uint32_t kDefaultWindow = 65536;
// The most entries a table may hold (a Modbus map's 65,536 registers).
constexpr uint32_t kMostTableEntries = 65536;

struct Rule {
  RequestKind kind = RequestKind::Exact;
  std::string request;  // the exact text, or the pattern
  Answer answer;
  std::string mode;  // the mode the line answers in; empty: every mode
  std::string then;  // the mode the device is in after answering; empty: the same
  int line = 0;      // in the file, for messages
  Delivery delivery;
};

// Output nobody asked for, timed from the port's open.
// In a mode: timed from when the device enters it, stopped when it leaves.
struct Timed {
  uint32_t atMs = 0;     // the first one
  uint32_t everyMs = 0;  // 0: once
  uint32_t everyMostMs = 0;  // above everyMs: each interval drawn from everyMs to this
  Answer answer;
  std::string mode;  // empty: from the open
  int line = 0;
  Delivery delivery;
};

// Noise on an idle line: one byte (from `bytes`; any when empty) every
// `leastMs` to `mostMs`.
struct Noise {
  uint32_t leastMs = 0, mostMs = 0;  // 0: no noise
  std::string bytes;
  int line = 0;
};

struct DeviceFile {
  std::vector<std::string> requestEnds{"\r", "\n"};  // empty: requests have no ending
  std::string answerEnd = "\r\n";
  bool paced = true;  // held to a played port's rate (line rate port)
  std::vector<Rule> rules;
  std::vector<Timed> timed;
  std::string startMode;  // the mode after each open (starts in); empty: none
  uint32_t baud = 0;      // the only rate it talks at (baud); 0: any
  // A played server: its first connects refused (refuse first N), and
  // how many of its bytes may wait unread in the connection (window N).
  uint32_t refuseFirst = 0;
  uint32_t window = kDefaultWindow;
  uint32_t seed = 1;      // every random choice's; 1 when not given, so a run repeats
  bool seedGiven = false;
  std::vector<Fault> answerFaults;  // answers FAULT: on every answer
  Noise noise;
  bool outOfOrder = false;  // answers out of order: each after its own delay alone
  bool gapEnded = false;    // requests end gap: a request ends where the line goes quiet
  bool checked = false;     // requests check KIND: a request whose checksum is wrong is not heard
  wlcodes::Checksum requestCheck = wlcodes::Checksum::Crc16Modbus;
  bool silentDevice = false;  // silent device: a file that answers nothing on purpose
  DeviceState initial;        // set "sp" "50", table "hr" ..., and each walk's start
};

struct ParsedFile {
  bool ok = true;
  DeviceFile device;
  std::string error;  // "line 4: ..." when !ok
};

ParsedFile ParseDeviceFile(const std::string& text);

// The word a file gives a line fault ("framing").
const char* FaultName(LineFault fault);
// The lines a piece sets, as the file writes them ("cts off dsr on").
std::string ModemText(const ModemSet& set);

// `bytes` as the file writes a text: in double quotes, with escapes.
std::string Quoted(const std::string& bytes);
// The same for an answer's text, whose { are doubled so they stay braces.
std::string QuotedAnswer(const std::string& bytes);

// Reads the escapes back (the inside of a quoted text); false on a
// malformed escape.
bool Unescape(const std::string& shown, std::string& bytes);

}  // namespace nbdevice

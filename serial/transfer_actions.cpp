// Transmit and receive actions.
#include "plugin/bridge.h"
#include "plugin/params.h"
#include "serial_actions.h"
#include "serial_frame.h"
#include "serial_rules.h"
#include "disk_file.h"
#include "system_api.h"

namespace wl {
namespace {

// The text wlCommSendASCII reports for a code outside 0 to 255.
const char kBadCode[] = "99";

uint32_t Waiting(SerialFrame& frame) {
  return serialQuery(frame.port, CommValue::RxWaiting, frame.errorNumber);
}

std::string Read(SerialFrame& frame, uint32_t count) {
  return serialRead(frame.port, static_cast<int32_t>(count), frame.errorNumber);
}

void SendField(const std::string& parameters, const std::string& delimiter, const char* ending) {
  SerialFrame frame;
  if (!BeginSerialAction(parameters, Exactly(2), frame, delimiter)) return;
  if (ending[0] == '\0') {
    serialWrite(frame.port, frame.fields[1], frame.errorNumber);  // no copy of a long text
  } else {
    serialWrite(frame.port, frame.fields[1] + ending, frame.errorNumber);
  }
  frame.publish();
}

// Takes bytes up to a CR; an LF is dropped where it stands.
bool CollectToCarriageReturn(int16_t port, LinePiece& piece, int& errorNumber) {
  while (serialQuery(port, CommValue::RxWaiting, errorNumber) > 0) {
    const std::string last = serialRead(port, 1, errorNumber);
    // A read that takes nothing while bytes are waiting failed: the line
    // ends rather than the action spinning for ever.
    if (last.empty() || last == "\r") return true;
    if (last == "\n" ? piece.drop() : piece.add(last[0])) return true;
  }
  return false;
}

}  // namespace

void wlCommSend(const std::string& parameters) { SendField(parameters, std::string(), ""); }

void wlCommSendCRLF(const std::string& parameters) { SendField(parameters, std::string(), "\r\n"); }

void wlCommSendSpecial(const std::string& parameters) { SendField(parameters, "|", ""); }

// The codes go out in one write: a USB adapter sends each write as a
// transfer of its own, and gaps over 1.5 character times between bytes
// break a Modbus RTU frame, which authors build with this action. The
// codes before one outside 0 to 255 still go out, then "99" is reported.
void wlCommSendASCII(const std::string& parameters) {
  SerialFrame frame;
  if (!BeginSerialAction(parameters, AtLeast(2), frame)) return;
  std::string bytes;
  size_t k = 1;
  for (; k < frame.fields.size(); ++k) {
    const uint32_t code = static_cast<uint32_t>(frame.number(k));  // negative counts as large
    if (code > 255) break;
    bytes += static_cast<char>(code);
  }
  if (!bytes.empty()) serialWrite(frame.port, bytes, frame.errorNumber);
  if (k < frame.fields.size()) {
    SetHostVariable("wlCommErr", kBadCode);
    return;
  }
  frame.publish();
}

void wlCommRxByte(const std::string& parameters) {
  SerialFrame frame;
  if (!BeginSerialAction(parameters, Exactly(3), frame)) return;
  const uint32_t waiting = Waiting(frame);
  if (waiting > 0) {
    SetHostVariable(frame.fields[1], Read(frame, 1));
    SetHostNumber(frame.fields[2].c_str(), waiting - 1);
  }
  frame.publish();
}

void wlCommRxS(const std::string& parameters) {
  SerialFrame frame;
  if (!BeginSerialAction(parameters, Exactly(3), frame)) return;
  const uint32_t asked = static_cast<uint32_t>(frame.number(1));
  const uint32_t waiting = Waiting(frame);
  // Everything waiting when that is enough, even when it is more than asked.
  SetHostVariable(frame.fields[2], Read(frame, waiting >= asked ? waiting : asked));
  frame.publish();
}

void wlCommRx(const std::string& parameters) {
  SerialFrame frame;
  if (!BeginSerialAction(parameters, Exactly(3), frame)) return;
  // The file first: when it cannot be written the bytes stay in the port.
  uint32_t waiting = 0;
  if (diskFileOpen(kCommRxFileChannel, frame.fields[1], FileMode::Replace, frame.errorNumber)) {
    waiting = Waiting(frame);
    const std::string record = '"' + Read(frame, waiting) + "\"\r\n";
    diskFileWrite(kCommRxFileChannel, record.data(), record.size(), frame.errorNumber);
    diskFileClose(kCommRxFileChannel, frame.errorNumber);
  }
  SetHostNumber(frame.fields[2].c_str(), waiting);
  frame.publish();
}

void wlCommRxF(const std::string& parameters) {
  SerialFrame frame;
  if (!BeginSerialAction(parameters, Exactly(3), frame)) return;
  // The file first: when it cannot be written the bytes stay in the port.
  if (diskFileOpen(kCommRxFFileChannel, frame.fields[1], FileMode::Append, frame.errorNumber)) {
    const int32_t pause = frame.number(2);
    const DWORD pauseMilliseconds = pause > 0 ? static_cast<DWORD>(pause) : 0;  // below 0: none
    // A device that never falls quiet would keep the action polling for
    // ever: it ends the stream limit after the first byte, the rest left in
    // the port.
    Deadline stream(SystemClock(), kStreamLimitMilliseconds);
    uint32_t waiting = 0;
    do {
      waiting = Waiting(frame);
      if (waiting > 0) {
        stream.start();
        const std::string bytes = Read(frame, waiting);
        if (bytes.empty()) break;  // the read failed: polling again would never end
        int fileError = 0;
        diskFileAppend(kCommRxFFileChannel, bytes.data(), bytes.size(), fileError);
        if (fileError != 0) {
          // A file that stopped taking bytes (a full disk) ends the action:
          // what is still in the port stays there for the next one.
          frame.errorNumber = fileError;
          break;
        }
        System().Sleep(1);
      }
      System().Sleep(pauseMilliseconds);
    } while (waiting > 0 && !stream.expired());
    diskFileClose(kCommRxFFileChannel, frame.errorNumber);
  }
  frame.publish();
}

LinePiece::LinePiece(int16_t port)
    : port_(port),
      deadline_(SystemClock(), kLineRateCheckMilliseconds),
      quiet_(SystemClock(), LineQuietMilliseconds(LineTimeoutPolls(0))) {}

bool LinePiece::add(char byte) {
  if (full()) {
    serialUnread(port_, byte);
    return true;
  }
  if (line.empty()) deadline_.start();
  line += byte;
  storedSinceQuiet_ = true;
  return false;
}

void LinePiece::beginQuiet() {
  if (quiet_.started() && !storedSinceQuiet_) return;
  quiet_.restart();
  storedSinceQuiet_ = false;
}

bool LinePiece::drop() {
  if (++dropped_ % kLinePieceBytes != 0) return false;
  deadline_.start();
  return timeUp();
}

bool LinePiece::timeUp() {
  if (!deadline_.expired()) return false;
  if (rateRead_) return true;
  rateRead_ = true;
  int ignored = 0;  // the rate only sizes the bound: its query is no failure of the action
  deadline_.setLimit(LinePieceMilliseconds(serialQuery(port_, CommValue::Baud, ignored)));
  return deadline_.expired();
}

void RunRxLine(const std::string& parameters, LineCollector collect) {
  SerialFrame frame;
  if (!BeginSerialAction(parameters, Exactly(3), frame)) return;
  LinePiece piece(frame.port);
  // The idle time-out is quiet measured on the clock from here; the polls
  // stay 10 ms apart, however long the system makes each Sleep last.
  piece.setIdleLimit(LineQuietMilliseconds(LineTimeoutPolls(frame.number(2))));
  Waiting(frame);  // records and clears a line error pending before collection
  // The piece's time bound is looked at once per wait for more bytes. A
  // device found gone ends the receive at once: nothing more can come.
  while (!collect(frame.port, piece, frame.errorNumber) && !piece.timeUp() &&
         !serialGone(frame.port)) {
    bool timedOut = false;
    while (Waiting(frame) == 0 && !serialGone(frame.port)) {
      piece.beginQuiet();
      System().Sleep(kLinePollMilliseconds);
      if (piece.idleExpired()) {
        SetHostVariable("wlCommEof", "1");
        timedOut = true;
        break;
      }
    }
    // Bytes arriving at the very moment of the time-out are still collected.
    if (timedOut && Waiting(frame) == 0) break;
  }
  SetHostVariable(frame.fields[1], piece.line);
  frame.publish();
}

void wlCommRxLine(const std::string& parameters) { RunRxLine(parameters, CollectToCarriageReturn); }

}  // namespace wl

#include "quillport_actions.h"

#include <limits>

#include "plugin/bridge.h"
#include "plugin/params.h"
#include "serial/serial_actions.h"
#include "serial/serial_frame.h"
#include "serial/serial_rules.h"
#include "serial/system_api.h"

namespace wl {
namespace quillport {
namespace {

// The time-outs Quillport's open installs on a port, in milliseconds, with
// the variables that publish them, in the order they are set. The write
// multiplier is the least: a write time-out ends a write with the rest
// unsent (COMMTIMEOUTS), so the multiplier covers a byte's line time at the
// port's rate and framing, rounded up (WriteMultiplier).
struct PublishedTimeout {
  const char* variable;
  uint32_t milliseconds;
};
constexpr PublishedTimeout kReadInterval{"wlCommRIT", 500};
constexpr PublishedTimeout kReadMultiplier{"wlCommRTTM", 10};
constexpr PublishedTimeout kReadConstant{"wlCommRTTC", 200};
constexpr PublishedTimeout kWriteMultiplier{"wlCommWTTM", 1};
constexpr PublishedTimeout kWriteConstant{"wlCommWTTC", 500};

// The write multiplier for a port whose bytes take `byteMicroseconds` on
// the line: never below the table's, never below a byte's line time.
uint32_t WriteMultiplier(uint32_t byteMicroseconds) {
  const uint32_t lineTime = (byteMicroseconds + 999) / 1000;
  return lineTime > kWriteMultiplier.milliseconds ? lineTime : kWriteMultiplier.milliseconds;
}

// Installs the time-outs on an open port, with the write multiplier for its
// rate; returns that multiplier.
uint32_t InstallTimeouts(int16_t port) {
  int ignored = 0;  // the rate only sizes the multiplier: its query is no failure
  const uint32_t multiplier =
      WriteMultiplier(serialQuery(port, CommValue::ByteMicroseconds, ignored));
  serialInstallTimeouts(port, PortTimeouts{kReadInterval.milliseconds, kReadMultiplier.milliseconds,
                                           kReadConstant.milliseconds, multiplier,
                                           kWriteConstant.milliseconds});
  return multiplier;
}

void Publish(const PublishedTimeout& timeout) {
  SetHostVariable(timeout.variable, NumberText(timeout.milliseconds));
}

// Lines end at a CR, which takes the byte after it along when that is the LF
// of a CR LF pair; any other byte after the CR is given back to the port so
// the next read starts with it. An LF stays in the line and ends it when it
// is the last byte received before the queue runs empty; such an LF right
// after a full piece still ends that line.
bool CollectQuillportLine(int16_t port, LinePiece& piece, int& errorNumber) {
  std::string last;
  while (serialQuery(port, CommValue::RxWaiting, errorNumber) > 0) {
    last = serialRead(port, 1, errorNumber);
    // A read that takes nothing while bytes are waiting failed: the line
    // ends rather than the action spinning for ever.
    if (last.empty()) return true;
    if (last == "\r") {
      const std::string next = serialRead(port, 1, errorNumber);
      if (!next.empty() && next != "\n") serialUnread(port, next[0]);
      return true;
    }
    if (last == "\n" && piece.full() &&
        serialQuery(port, CommValue::RxWaiting, errorNumber) == 0) {
      piece.line += last;
      return true;
    }
    if (piece.add(last[0])) return true;
    System().Sleep(0);
  }
  return last == "\n";
}

}  // namespace

// Quillport has no flow-control action: both opens start the port with no
// flow control and DTR and RTS on, whatever the program before left.
void wlCommOpen(const std::string& parameters) {
  int16_t port = 0;
  if (!RunCommOpen(parameters, InheritedFlow::Fresh, port)) return;
  const uint32_t multiplier = InstallTimeouts(port);
  for (const PublishedTimeout& timeout :
       {kReadInterval, kReadMultiplier, kReadConstant,
        PublishedTimeout{kWriteMultiplier.variable, multiplier}, kWriteConstant}) {
    Publish(timeout);
  }
}

void wlCommOpenStd(const std::string& parameters) {
  RunCommOpenStd(parameters, InheritedFlow::Fresh);
}

// A new rate needs a new write multiplier where the open installed
// time-outs; a port opened with wlCommOpenStd has none and gets none.
void wlCommSetBaud(const std::string& parameters) {
  SerialFrame frame;
  if (!BeginSerialAction(parameters, Exactly(2), frame)) return;
  serialSet(frame.port, CommOption::Baud, BaudFromTable(frame.number(1)), frame.errorNumber);
  if (serialHasInstalledTimeouts(frame.port)) {
    Publish({kWriteMultiplier.variable, InstallTimeouts(frame.port)});
  }
  frame.publish();
}

void wlCommSetTxBuffer(const std::string& parameters) {
  RunSetBuffer(parameters, CommOption::TxBuffer, std::numeric_limits<int32_t>::max());
}

void wlCommSetRxBuffer(const std::string& parameters) {
  RunSetBuffer(parameters, CommOption::RxBuffer, std::numeric_limits<int32_t>::max());
}

void wlCommRxLine(const std::string& parameters) { RunRxLine(parameters, CollectQuillportLine); }

}  // namespace quillport
}  // namespace wl

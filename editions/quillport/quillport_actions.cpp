#include "quillport_actions.h"

#include <limits>

#include "plugin/bridge.h"
#include "plugin/params.h"
#include "serial/serial_actions.h"
#include "serial/system_api.h"

namespace wl {
namespace quillport {
namespace {

// The time-outs Quillport's open installs on a port, in milliseconds, with
// the variables that publish them, in the order they are set.
struct PublishedTimeout {
  const char* variable;
  uint32_t milliseconds;
};
constexpr PublishedTimeout kReadInterval{"wlCommRIT", 500};
constexpr PublishedTimeout kReadMultiplier{"wlCommRTTM", 10};
constexpr PublishedTimeout kReadConstant{"wlCommRTTC", 200};
constexpr PublishedTimeout kWriteMultiplier{"wlCommWTTM", 1};
constexpr PublishedTimeout kWriteConstant{"wlCommWTTC", 500};
constexpr PublishedTimeout kTimeouts[] = {kReadInterval, kReadMultiplier, kReadConstant,
                                          kWriteMultiplier, kWriteConstant};

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

void wlCommOpen(const std::string& parameters) {
  int16_t port = 0;
  if (!RunCommOpen(parameters, port)) return;
  serialInstallTimeouts(port, PortTimeouts{kReadInterval.milliseconds, kReadMultiplier.milliseconds,
                                           kReadConstant.milliseconds, kWriteMultiplier.milliseconds,
                                           kWriteConstant.milliseconds});
  for (const PublishedTimeout& timeout : kTimeouts) {
    SetHostVariable(timeout.variable, NumberText(timeout.milliseconds));
  }
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

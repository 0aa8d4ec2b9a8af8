// Open and close, settings, flow control and port information.
#include "plugin/bridge.h"
#include "plugin/params.h"
#include "serial_actions.h"
#include "serial_frame.h"
#include "serial_rules.h"
#include "system_api.h"

namespace wl {
namespace {

// The largest queue sizes Wirelet asks a device for.
constexpr int32_t kTxBufferLimit = 8192;
constexpr int32_t kRxBufferLimit = 32768;

void OpenAndPublish(SerialFrame& frame, InheritedFlow flow) {
  serialOpen(frame.port, frame.deviceName(), flow, frame.errorNumber);
  SetHostNumber("wlOpenCommErr", frame.errorNumber);
}

// A hardware flow action: settings above `highest` end it silently; there is
// no lower bound.
void SetFlow(const std::string& parameters, CommOption option, int32_t highest) {
  SerialFrame frame;
  if (!BeginSerialAction(parameters, Exactly(2), frame)) return;
  const int32_t setting = frame.number(1);
  if (setting > highest) return;
  serialSet(frame.port, option, setting, frame.errorNumber);
  frame.publish();
}

// Sets the variable named in field 2 to a value the device reports.
void QueryInto(const std::string& parameters, CommValue item) {
  SerialFrame frame;
  if (!BeginSerialAction(parameters, Exactly(2), frame)) return;
  const uint32_t value = serialQuery(frame.port, item, frame.errorNumber);
  SetHostNumber(frame.fields[1].c_str(), value);
  frame.publish();
}

}  // namespace

bool RunCommOpen(const std::string& parameters, InheritedFlow flow, int16_t& port) {
  SerialFrame frame;
  if (!BeginSerialAction(parameters, Exactly(7), frame)) return false;
  const int32_t baud = BaudFromTable(frame.number(1));
  const int32_t bits = frame.number(2);
  const int32_t parity = frame.number(3);
  const int32_t stop = frame.number(4);
  OpenAndPublish(frame, flow);
  const int16_t p = frame.port;
  int& error = frame.errorNumber;
  if (parity >= 1 && parity <= 5) {
    serialSet(p, CommOption::ParityEnable, 1, error);
    serialSet(p, CommOption::ParityType, parity, error);
  } else {
    serialSet(p, CommOption::ParityEnable, 0, error);
  }
  serialSet(p, CommOption::StopCode, stop >= 0 && stop <= 2 ? stop : 0, error);
  serialSet(p, CommOption::TxBuffer, frame.number(5), error);
  serialSet(p, CommOption::RxBuffer, frame.number(6), error);
  serialSet(p, CommOption::Baud, baud, error);
  // Last, so that the data-bits rules decide the final stop bits and parity.
  serialSet(p, CommOption::DataBits, bits, error);
  frame.publish();
  port = p;
  return true;
}

void RunSetBuffer(const std::string& parameters, CommOption option, int32_t limit) {
  SerialFrame frame;
  if (!BeginSerialAction(parameters, Exactly(2), frame)) return;
  const int32_t size = frame.number(1);
  serialSet(frame.port, option, size > limit ? limit : size, frame.errorNumber);
  frame.publish();
}

void RunCommOpenStd(const std::string& parameters, InheritedFlow flow) {
  SerialFrame frame;
  if (!BeginSerialAction(parameters, Exactly(2), frame)) return;
  const int32_t baud = BaudFromTable(frame.number(1));
  OpenAndPublish(frame, flow);
  const int16_t p = frame.port;
  int& error = frame.errorNumber;
  serialSet(p, CommOption::ParityEnable, 0, error);
  serialSet(p, CommOption::StopCode, 0, error);
  serialSet(p, CommOption::TxBuffer, 4096, error);
  serialSet(p, CommOption::RxBuffer, 4096, error);
  serialSet(p, CommOption::Baud, baud, error);
  serialSet(p, CommOption::DataBits, 8, error);
  frame.publish();
}

// Wirelet's flow actions set flow control, DTR and RTS: an open keeps them
// as the device had them.
void wlCommOpen(const std::string& parameters) {
  int16_t port = 0;
  RunCommOpen(parameters, InheritedFlow::Keep, port);
}

void wlCommOpenStd(const std::string& parameters) {
  RunCommOpenStd(parameters, InheritedFlow::Keep);
}

void wlCommClose(const std::string& parameters) {
  if (CountFields(parameters) != 1) return;
  // The port is read from the whole text, not a split field: a quoted port
  // reads as 0 and ends the action.
  const int64_t port = ReadInteger(parameters);
  if (!PortInRange(port)) return;
  SerialFrame frame;
  frame.port = static_cast<int16_t>(port);
  channelClose(frame.port, ChannelKind::SerialPort, frame.errorNumber);
  frame.publish();
}

void wlCommSetBaud(const std::string& parameters) {
  SerialFrame frame;
  if (!BeginSerialAction(parameters, Exactly(2), frame)) return;
  serialSet(frame.port, CommOption::Baud, BaudFromTable(frame.number(1)), frame.errorNumber);
  frame.publish();
}

void wlCommSetTxBuffer(const std::string& parameters) {
  RunSetBuffer(parameters, CommOption::TxBuffer, kTxBufferLimit);
}

void wlCommSetRxBuffer(const std::string& parameters) {
  RunSetBuffer(parameters, CommOption::RxBuffer, kRxBufferLimit);
}

void wlCommRxFlush(const std::string& parameters) {
  SerialFrame frame;
  if (!BeginSerialAction(parameters, Exactly(1), frame)) return;
  // One byte at a time, yielding between, so bytes still arriving are
  // drained too; a failed query reads as 0 and ends the loop, and so does a
  // read that takes nothing (a device that keeps refusing reads while it
  // reports bytes waiting would otherwise hold the host for ever). A device
  // that never stops sending is drained for the flush limit at most.
  Deadline flush(SystemClock(), kFlushLimitMilliseconds);
  while (serialQuery(frame.port, CommValue::RxWaiting, frame.errorNumber) > 0) {
    flush.start();
    if (serialRead(frame.port, 1, frame.errorNumber).empty() || flush.expired()) break;
    System().Sleep(0);
  }
  frame.publish();
}

void wlCommRxCount(const std::string& parameters) { QueryInto(parameters, CommValue::RxWaiting); }

void wlCommGetBaud(const std::string& parameters) { QueryInto(parameters, CommValue::Baud); }

void wlCommXonXoff(const std::string& parameters) {
  SerialFrame frame;
  if (!BeginSerialAction(parameters, Exactly(2), frame)) return;
  // Any setting but 0 switches both directions on.
  const int32_t setting = frame.number(1);
  serialSet(frame.port, CommOption::XonXoffIn, setting, frame.errorNumber);
  serialSet(frame.port, CommOption::XonXoffOut, setting, frame.errorNumber);
  frame.publish();
}

void wlCommSetCTSflow(const std::string& parameters) {
  SetFlow(parameters, CommOption::CtsFlow, 1);
}

void wlCommSetDSRflow(const std::string& parameters) {
  SetFlow(parameters, CommOption::DsrFlow, 1);
}

void wlCommSetDTRflow(const std::string& parameters) {
  SetFlow(parameters, CommOption::DtrFlow, 1);
}

void wlCommSetRTSflow(const std::string& parameters) {
  SetFlow(parameters, CommOption::RtsFlow, 3);
}

void wlCommFlowReset(const std::string& parameters) {
  SerialFrame frame;
  if (!BeginSerialAction(parameters, Exactly(1), frame)) return;
  serialResetFlow(frame.port, frame.errorNumber);
  frame.publish();
}

}  // namespace wl

// The serial actions shared by both editions. Each takes the action's
// parameter text and reports through host variables (wlOpenCommErr,
// wlCommErr, wlCommEof and the variables a script names).
#pragma once

#include <cstdint>
#include <string>

#include "bounds.h"
#include "serial_device.h"

namespace wl {

// Open and close.
void wlCommOpen(const std::string& parameters);
void wlCommOpenStd(const std::string& parameters);
void wlCommClose(const std::string& parameters);

// Settings, flow control and port information.
void wlCommSetBaud(const std::string& parameters);
void wlCommSetTxBuffer(const std::string& parameters);
void wlCommSetRxBuffer(const std::string& parameters);
void wlCommRxFlush(const std::string& parameters);
void wlCommRxCount(const std::string& parameters);
void wlCommGetBaud(const std::string& parameters);
void wlCommXonXoff(const std::string& parameters);
void wlCommSetCTSflow(const std::string& parameters);
void wlCommSetDSRflow(const std::string& parameters);
void wlCommSetDTRflow(const std::string& parameters);
void wlCommSetRTSflow(const std::string& parameters);
void wlCommFlowReset(const std::string& parameters);

// Transmit.
void wlCommSend(const std::string& parameters);
void wlCommSendCRLF(const std::string& parameters);
void wlCommSendASCII(const std::string& parameters);
void wlCommSendSpecial(const std::string& parameters);

// Receive.
void wlCommRxByte(const std::string& parameters);
void wlCommRxS(const std::string& parameters);
void wlCommRx(const std::string& parameters);
void wlCommRxF(const std::string& parameters);
void wlCommRxLine(const std::string& parameters);

// Building blocks of the actions above that an edition reuses where its own
// handler differs.

// wlCommOpen up to and including wlCommErr; false when the field count or the
// port number ended it, else `port` is the port it worked on. `flow` says
// what the open does with the flow control the port comes with.
bool RunCommOpen(const std::string& parameters, InheritedFlow flow, int16_t& port);

// wlCommOpenStd, with the same choice.
void RunCommOpenStd(const std::string& parameters, InheritedFlow flow);

// The buffer-size actions: sizes above `limit` are lowered to it.
void RunSetBuffer(const std::string& parameters, CommOption option, int32_t limit);

// A line being collected by wlCommRxLine, with the bounds that make it hand
// over a piece of a line that does not end: at most kLinePieceBytes stored
// bytes, and, from its first stored byte, no longer than such a piece takes
// at the port's rate (the wait for that byte is the idle time-out's alone).
// The rest of the line stays in the port for the next call, in order.
class LinePiece {
 public:
  explicit LinePiece(int16_t port);

  // Stores a byte of the line and restarts the idle count. When the piece is
  // full the byte goes back to the port instead, to start the next piece,
  // and the piece is complete: true.
  bool add(char byte);
  // Counts a byte the line drops (an LF). True when a piece's worth of them
  // came without the piece ending, and its time bound has run: a device
  // that sends nothing else cannot hold the action either.
  bool drop();
  bool full() const { return line.size() >= kLinePieceBytes; }
  // True once the piece has run its time bound. Reads the clock once, and
  // only once a byte is stored; the port's rate only when the piece is old
  // enough to need it.
  bool timeUp();

  // The line fell quiet: the idle count starts now when a character was
  // stored since it last started (or it never did), and goes on otherwise.
  // Stored characters only mark the count for a restart, so collecting reads
  // no clock.
  void beginQuiet();
  // True once the line has been quiet for the idle time-out. Reads the
  // clock once.
  bool idleExpired() const { return quiet_.expired(); }
  void setIdleLimit(uint32_t milliseconds) { quiet_.setLimit(milliseconds); }

  std::string line;

 private:
  int16_t port_;
  Deadline deadline_;
  Deadline quiet_;
  bool storedSinceQuiet_ = false;
  bool rateRead_ = false;
  size_t dropped_ = 0;
};

// Takes bytes of a line into the piece while bytes are waiting; true when
// the piece is complete (its line ended, or it is full), false when it
// should wait for more. It never reads the clock.
using LineCollector = bool (*)(int16_t port, LinePiece& piece, int& errorNumber);

// wlCommRxLine's frame, idle wait and results around an edition's collector.
void RunRxLine(const std::string& parameters, LineCollector collect);

}  // namespace wl

// The serial actions shared by both editions. Each takes the action's
// parameter text and reports through host variables (wlOpenCommErr,
// wlCommErr, wlCommEof and the variables a script names).
#pragma once

#include <cstdint>
#include <string>

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
// port number ended it, else `port` is the port it worked on.
bool RunCommOpen(const std::string& parameters, int16_t& port);

// The buffer-size actions: sizes above `limit` are lowered to it.
void RunSetBuffer(const std::string& parameters, CommOption option, int32_t limit);

// Takes bytes of a line into `line` while bytes are waiting; true when the
// line is complete, false when it should wait for more. `idle` counts quiet
// 10 ms polls and is reset by every stored character.
using LineCollector = bool (*)(int16_t port, std::string& line, uint32_t& idle, int& errorNumber);

// wlCommRxLine's frame, idle wait and results around an edition's collector.
void RunRxLine(const std::string& parameters, LineCollector collect);

}  // namespace wl

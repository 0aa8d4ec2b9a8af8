// The serial actions shared by both editions. Each takes the action's
// parameter text and reports through host variables (wlOpenCommErr,
// wlCommErr, wlCommEof and the variables a script names).
#pragma once

#include <string>

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

}  // namespace wl

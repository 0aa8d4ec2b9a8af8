#include "serial_actions.h"

namespace wl {

void wlCommOpen(const std::string&) {}
void wlCommOpenStd(const std::string&) {}
void wlCommClose(const std::string&) {}
void wlCommSetBaud(const std::string&) {}
void wlCommSetTxBuffer(const std::string&) {}
void wlCommSetRxBuffer(const std::string&) {}
void wlCommRxFlush(const std::string&) {}
void wlCommRxCount(const std::string&) {}
void wlCommGetBaud(const std::string&) {}
void wlCommXonXoff(const std::string&) {}
void wlCommSetCTSflow(const std::string&) {}
void wlCommSetDSRflow(const std::string&) {}
void wlCommSetDTRflow(const std::string&) {}
void wlCommSetRTSflow(const std::string&) {}
void wlCommFlowReset(const std::string&) {}
void wlCommSend(const std::string&) {}
void wlCommSendCRLF(const std::string&) {}
void wlCommSendASCII(const std::string&) {}
void wlCommSendSpecial(const std::string&) {}
void wlCommRxByte(const std::string&) {}
void wlCommRxS(const std::string&) {}
void wlCommRx(const std::string&) {}
void wlCommRxF(const std::string&) {}
void wlCommRxLine(const std::string&) {}

}  // namespace wl

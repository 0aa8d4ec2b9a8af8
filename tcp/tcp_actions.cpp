#include "tcp_actions.h"

namespace wl {

void wlTCPopen(const std::string&) {}
void wlTCPclose(const std::string&) {}
void wlTCPsend(const std::string&) {}
void wlTCPsendCRLF(const std::string&) {}
void wlTCPrxbyte(const std::string&) {}
void wlTCPrxline(const std::string&) {}
void wlTCPrxF(const std::string&) {}
void wlTCPrxFT(const std::string&) {}
void wlTCPrxFlush(const std::string&) {}

}  // namespace wl

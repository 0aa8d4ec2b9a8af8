// The TCP client actions shared by both editions. Each reports through
// wlTcpErr, wlTcpEof and the variables a script names.
#pragma once

#include <string>

namespace wl {

void wlTCPopen(const std::string& parameters);
void wlTCPclose(const std::string& parameters);
void wlTCPsend(const std::string& parameters);
void wlTCPsendCRLF(const std::string& parameters);
void wlTCPrxbyte(const std::string& parameters);
void wlTCPrxline(const std::string& parameters);
void wlTCPrxF(const std::string& parameters);
void wlTCPrxFT(const std::string& parameters);
void wlTCPrxFlush(const std::string& parameters);

}  // namespace wl

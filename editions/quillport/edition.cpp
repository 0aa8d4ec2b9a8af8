// Quillport, the RS232 edition: identification texts and the catalogue.
// Numbers follow the registration order with no gaps (1 to 26); names and
// hints are those of the full edition's actions of the same name. Where its
// behaviour differs (open, buffer sizes, line receive) the handlers are its
// own.
#include "editions/quillport/quillport_actions.h"
#include "plugin/catalogue.h"
#include "serial/serial_actions.h"
#include "serial/serial_device.h"
#include "tcp/tcp_actions.h"

namespace wl {
namespace {

const CatalogueEntry kCatalogue[] = {
    {0, "Open-Close", nullptr, nullptr},
    {1, "wlCommOpen", "wlCommOpen (port,baud,bits,parity,stop,txbuffer,rxbuffer)",
     quillport::wlCommOpen},
    {2, "wlCommOpenStd",
     "wlCommOpenStd (port,baud) A simpler way to open a port using default values (See the help "
     "file)",
     quillport::wlCommOpenStd},
    {3, "wlCommClose", "wlCommClose (port) Closes an open comm port", wlCommClose},
    {0, "Port Settings", nullptr, nullptr},
    {4, "wlCommSetBaud", "wlCommSetBaud 'port,baud' Change baud rate on an open comm port",
     quillport::wlCommSetBaud},
    {5, "wlCommSetTxBuffer", "wlCommSetTxBuffer 'port,buffer' Change TX buffer on an open comm port",
     quillport::wlCommSetTxBuffer},
    {6, "wlCommSetRxBuffer", "wlCommSetRxBuffer 'port,buffer' Change RX buffer on an open comm port",
     quillport::wlCommSetRxBuffer},
    {0, "Transmit data", nullptr, nullptr},
    {7, "wlCommSend", "wlCommSend 'port,data' Send data to an open comm port", wlCommSend},
    {8, "wlCommSendCRLF", "wlCommSendCRLF 'port,data' Send data to an open comm port with a CR & LF",
     wlCommSendCRLF},
    {0, "Receive data", nullptr, nullptr},
    {9, "wlCommRxByte", "wlCommRxByte 'port,byte,buff' Receive data from an open comm port",
     wlCommRxByte},
    {10, "wlCommRxS", "wlCommRxS (port,return var name,number of bytes)", wlCommRxS},
    {11, "wlCommRx", "wlCommRx '[port],[filename],bytecountvar' Write RX buffer to file", wlCommRx},
    {12, "wlCommRxF", "wlCommRx '[port],[filename],bytecountvar' Write RX buffer to file",
     wlCommRxF},
    {13, "wlCommRxLine", "wlCommRxLine '[port],var,timeout (mS*10)'", quillport::wlCommRxLine},
    {14, "wlCommRxFlush", "wlCommRx '[port]' Flush RX Buffer", wlCommRxFlush},
    {0, "Port Information", nullptr, nullptr},
    {15, "wlCommRxCount", "wlCommRxCount 'port,num bytes' Get count of bytes in the RX buffer",
     wlCommRxCount},
    {16, "wlCommGetBaud",
     "wlCommGetBaud 'port,baud var' Get the current baud rate for the specified port",
     wlCommGetBaud},
    {0, "Flow Control", nullptr, nullptr},
    {17, "wlCommXonXoff", "wlCommXoXoff 'port,setting' Set software flow control. 1=On, 0=Off",
     wlCommXonXoff},
    {0, "TCP Client Comms", nullptr, nullptr},
    {18, "wlTCPopen", "wlTCPopen 'host,port,timeout'", wlTCPopen},
    {19, "wlTCPclose", "wlTCPclose ''", wlTCPclose},
    {20, "wlTCPsend", "wlTCPsend 'data to send'", wlTCPsend},
    {21, "wlTCPsendCRLF", "wlTCPsend 'data to send'", wlTCPsendCRLF},
    {22, "wlTCPrxbyte", "wlTCPrxbyte 'var to store byte'", wlTCPrxbyte},
    {23, "wlTCPrxline", "wlTCPrxline 'var to store line'", wlTCPrxline},
    {24, "wlTCPrxF", "wlTCPrxF ''", wlTCPrxF},
    {25, "wlTCPrxFT", "wlTCPrxFT '' with timeout", wlTCPrxFT},
    {26, "wlTCPrxFlush", "Flush any waiting bytes", wlTCPrxFlush},
};

const Edition kQuillport = {
    "Wirelet V7.01 PlugIn",
    "Norvale",
    "RS232 Communications Plugin for NeoBook.",
    kCatalogue,
    sizeof kCatalogue / sizeof kCatalogue[0],
    serialCloseAll,
};

}  // namespace

const Edition& ThisEdition() { return kQuillport; }

}  // namespace wl

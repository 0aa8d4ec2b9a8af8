// Wirelet, the full edition: identification texts and the catalogue, which
// drives registration (in this order), dispatch and the edit answers.
// Numbers do not follow the order: the flow-control actions 29 to 33 are
// registered before the TCP actions 20 to 28, and 19 sits with them.
#include "plugin/catalogue.h"
#include "serial/serial_actions.h"
#include "serial/serial_device.h"
#include "tcp/tcp_actions.h"

namespace wl {
namespace {

const CatalogueEntry kCatalogue[] = {
    {0, "Open-Close", nullptr, nullptr},
    {1, "wlCommOpen", "wlCommOpen (port,baud,bits,parity,stop,txbuffer,rxbuffer)", wlCommOpen},
    {2, "wlCommOpenStd",
     "wlCommOpenStd (port,baud) A simpler way to open a port using default values (See the help "
     "file)",
     wlCommOpenStd},
    {3, "wlCommClose", "wlCommClose (port) Closes an open comm port", wlCommClose},
    {0, "Port Settings", nullptr, nullptr},
    {4, "wlCommSetBaud", "wlCommSetBaud 'port,baud' Change baud rate on an open comm port",
     wlCommSetBaud},
    {5, "wlCommSetTxBuffer", "wlCommSetTxBuffer 'port,buffer' Change TX buffer on an open comm port",
     wlCommSetTxBuffer},
    {6, "wlCommSetRxBuffer", "wlCommSetRxBuffer 'port,buffer' Change RX buffer on an open comm port",
     wlCommSetRxBuffer},
    {0, "Transmit data", nullptr, nullptr},
    {7, "wlCommSend", "wlCommSend 'port,data' Send data to an open comm port", wlCommSend},
    {8, "wlCommSendCRLF", "wlCommSendCRLF 'port,data' Send data to an open comm port with a CR & LF",
     wlCommSendCRLF},
    {9, "wlCommSendASCII",
     "wlCommSend 'port,code' Send an ASCII code (0 to 255) to an open comm port", wlCommSendASCII},
    {10, "wlCommSendSpecial", "wlCommSend Same as wlCommSend but uses a pipe as the delimiter",
     wlCommSendSpecial},
    {0, "Receive data", nullptr, nullptr},
    {11, "wlCommRxByte", "wlCommRxByte 'port,byte,buff' Receive data from an open comm port",
     wlCommRxByte},
    {12, "wlCommRxS", "wlCommRxS (port,return var name,number of bytes)", wlCommRxS},
    {13, "wlCommRx", "wlCommRx '[port],[filename],bytecountvar' Write RX buffer to file", wlCommRx},
    {14, "wlCommRxF", "wlCommRx '[port],[filename],bytecountvar' Write RX buffer to file",
     wlCommRxF},
    {15, "wlCommRxLine", "wlCommRxLine '[port],var,timeout (mS*10)'", wlCommRxLine},
    {16, "wlCommRxFlush", "wlCommRx '[port]' Flush RX Buffer", wlCommRxFlush},
    {0, "Port Information", nullptr, nullptr},
    {17, "wlCommRxCount", "wlCommRxCount 'port,num bytes' Get count of bytes in the RX buffer",
     wlCommRxCount},
    {18, "wlCommGetBaud",
     "wlCommGetBaud 'port,baud var' Get the current baud rate for the specified port",
     wlCommGetBaud},
    {0, "Flow Control", nullptr, nullptr},
    {19, "wlCommXonXoff", "wlCommXoXoff 'port,setting' Set software flow control. 1=On, 0=Off",
     wlCommXonXoff},
    {29, "wlCommSetCTSflow",
     "wlCommSetCTSflow 'port,setting' Set Hardware CTS flow control. 1=On, 0=Off",
     wlCommSetCTSflow},
    {30, "wlCommSetDSRflow",
     "wlCommSetDSRflow 'port,setting' Set Hardware DSR flow control. 1=On, 0=Off",
     wlCommSetDSRflow},
    {31, "wlCommSetDTRflow",
     "wlCommSetDTRflow 'port,setting' Set Hardware DTR flow control. 1=On, 0=Off",
     wlCommSetDTRflow},
    {32, "wlCommSetRTSflow",
     "wlCommSetRTSflow 'port,setting' Set Hardware RTS flow control. 0=Off, 1=On, 2=Handshake, "
     "3=Toggle",
     wlCommSetRTSflow},
    {33, "wlCommFlowReset",
     "wlCommFlowReset 'port' Disables all flow control on the specified port", wlCommFlowReset},
    {0, "TCP Client Comms", nullptr, nullptr},
    {20, "wlTCPopen", "wlTCPopen 'host,port,timeout'", wlTCPopen},
    {21, "wlTCPclose", "wlTCPclose ''", wlTCPclose},
    {22, "wlTCPsend", "wlTCPsend 'data to send'", wlTCPsend},
    {23, "wlTCPsendCRLF", "wlTCPsend 'data to send'", wlTCPsendCRLF},
    {24, "wlTCPrxbyte", "wlTCPrxbyte 'var to store byte'", wlTCPrxbyte},
    {25, "wlTCPrxline", "wlTCPrxline 'var to store line'", wlTCPrxline},
    {26, "wlTCPrxF", "wlTCPrxF ''", wlTCPrxF},
    {27, "wlTCPrxFT", "wlTCPrxFT '' with timeout", wlTCPrxFT},
    {28, "wlTCPrxFlush", "Flush any waiting bytes", wlTCPrxFlush},
};

const Edition kWirelet = {
    "Wirelet V1.8.0.3 PlugIn",
    "Norvale",
    "Communications Plugin for NeoBook.",
    kCatalogue,
    sizeof kCatalogue / sizeof kCatalogue[0],
    serialCloseAll,
};

}  // namespace

const Edition& ThisEdition() { return kWirelet; }

}  // namespace wl

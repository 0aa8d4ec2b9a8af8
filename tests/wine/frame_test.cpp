// The plug-in frame through the real Wirelet.nbp: identification, the 40
// registration calls with both kinds of callback, dispatch and edit answers.
#include <gtest/gtest.h>

#include <cstring>

#include "host/nbhost.h"
#include "support/paths.h"

namespace {

struct Expected {
  int32_t number;
  const char* name;
  const char* hint;  // nullptr: a category entry
};

// The catalogue as the host must see it, written out independently of the
// plug-in's own table.
const Expected kWirelet[40] = {
    {0, "Open-Close", nullptr},
    {1, "wlCommOpen", "wlCommOpen (port,baud,bits,parity,stop,txbuffer,rxbuffer)"},
    {2, "wlCommOpenStd", "wlCommOpenStd (port,baud) A simpler way to open a port using default values (See the help file)"},
    {3, "wlCommClose", "wlCommClose (port) Closes an open comm port"},
    {0, "Port Settings", nullptr},
    {4, "wlCommSetBaud", "wlCommSetBaud 'port,baud' Change baud rate on an open comm port"},
    {5, "wlCommSetTxBuffer", "wlCommSetTxBuffer 'port,buffer' Change TX buffer on an open comm port"},
    {6, "wlCommSetRxBuffer", "wlCommSetRxBuffer 'port,buffer' Change RX buffer on an open comm port"},
    {0, "Transmit data", nullptr},
    {7, "wlCommSend", "wlCommSend 'port,data' Send data to an open comm port"},
    {8, "wlCommSendCRLF", "wlCommSendCRLF 'port,data' Send data to an open comm port with a CR & LF"},
    {9, "wlCommSendASCII", "wlCommSend 'port,code' Send an ASCII code (0 to 255) to an open comm port"},
    {10, "wlCommSendSpecial", "wlCommSend Same as wlCommSend but uses a pipe as the delimiter"},
    {0, "Receive data", nullptr},
    {11, "wlCommRxByte", "wlCommRxByte 'port,byte,buff' Receive data from an open comm port"},
    {12, "wlCommRxS", "wlCommRxS (port,return var name,number of bytes)"},
    {13, "wlCommRx", "wlCommRx '[port],[filename],bytecountvar' Write RX buffer to file"},
    {14, "wlCommRxF", "wlCommRx '[port],[filename],bytecountvar' Write RX buffer to file"},
    {15, "wlCommRxLine", "wlCommRxLine '[port],var,timeout (mS*10)'"},
    {16, "wlCommRxFlush", "wlCommRx '[port]' Flush RX Buffer"},
    {0, "Port Information", nullptr},
    {17, "wlCommRxCount", "wlCommRxCount 'port,num bytes' Get count of bytes in the RX buffer"},
    {18, "wlCommGetBaud", "wlCommGetBaud 'port,baud var' Get the current baud rate for the specified port"},
    {0, "Flow Control", nullptr},
    {19, "wlCommXonXoff", "wlCommXoXoff 'port,setting' Set software flow control. 1=On, 0=Off"},
    {29, "wlCommSetCTSflow", "wlCommSetCTSflow 'port,setting' Set Hardware CTS flow control. 1=On, 0=Off"},
    {30, "wlCommSetDSRflow", "wlCommSetDSRflow 'port,setting' Set Hardware DSR flow control. 1=On, 0=Off"},
    {31, "wlCommSetDTRflow", "wlCommSetDTRflow 'port,setting' Set Hardware DTR flow control. 1=On, 0=Off"},
    {32, "wlCommSetRTSflow", "wlCommSetRTSflow 'port,setting' Set Hardware RTS flow control. 0=Off, 1=On, 2=Handshake, 3=Toggle"},
    {33, "wlCommFlowReset", "wlCommFlowReset 'port' Disables all flow control on the specified port"},
    {0, "TCP Client Comms", nullptr},
    {20, "wlTCPopen", "wlTCPopen 'host,port,timeout'"},
    {21, "wlTCPclose", "wlTCPclose ''"},
    {22, "wlTCPsend", "wlTCPsend 'data to send'"},
    {23, "wlTCPsendCRLF", "wlTCPsend 'data to send'"},
    {24, "wlTCPrxbyte", "wlTCPrxbyte 'var to store byte'"},
    {25, "wlTCPrxline", "wlTCPrxline 'var to store line'"},
    {26, "wlTCPrxF", "wlTCPrxF ''"},
    {27, "wlTCPrxFT", "wlTCPrxFT '' with timeout"},
    {28, "wlTCPrxFlush", "Flush any waiting bytes"},
};

nbhost::PlugIn& Wirelet() {
  static nbhost::PlugIn plugIn;
  static bool loaded = false;
  if (!loaded) {
    std::string error;
    loaded = plugIn.load(wltest::OutputFile("Wirelet.nbp"), &error);
    if (!loaded) ADD_FAILURE() << error;
  }
  return plugIn;
}

// Calls a four-argument stdcall function and returns how far the stack
// pointer moved across the call (0 when caller and callee agree).
extern "C" int32_t CallMeasuringStack(void* function, uint32_t a, uint32_t b, uint32_t c, uint32_t d);
asm(R"(
    .text
    .globl _CallMeasuringStack
_CallMeasuringStack:
    pushl %ebp
    movl  %esp, %ebp
    pushl %ebx
    pushl 24(%ebp)
    pushl 20(%ebp)
    pushl 16(%ebp)
    pushl 12(%ebp)
    movl  %esp, %ebx
    addl  $16, %ebx
    call  *8(%ebp)
    movl  %esp, %eax
    subl  %ebx, %eax
    leal  -4(%ebp), %esp
    popl  %ebx
    popl  %ebp
    ret
)");

void CheckRegistrations(const std::vector<nbhost::Registration>& calls) {
  ASSERT_EQ(calls.size(), 40u);
  for (size_t i = 0; i < 40; ++i) {
    const Expected& e = kWirelet[i];
    const nbhost::Registration& r = calls[i];
    SCOPED_TRACE("registration " + std::to_string(i + 1));
    EXPECT_EQ(r.number, e.number);
    EXPECT_EQ(r.name, e.name);
    EXPECT_EQ(r.hintNull, e.hint == nullptr);
    if (e.hint) {
      EXPECT_EQ(r.hint, e.hint);
    }
    EXPECT_EQ(r.parameterTypes, "ACTIONPARAM_ALPHA");
    EXPECT_EQ(r.count, e.number == 0 ? 0u : 1u);
    EXPECT_EQ(r.countAgain, r.count);
  }
}

}  // namespace

TEST(Identification, FillsTheThreeSlotsWithExactBlocks) {
  char* title = nullptr;
  char* publisher = nullptr;
  char* hint = nullptr;
  Wirelet().init(&title, &publisher, &hint);
  ASSERT_NE(title, nullptr);
  EXPECT_STREQ(title, "Wirelet V1.8.0.3 PlugIn");
  EXPECT_STREQ(publisher, "Norvale");
  EXPECT_STREQ(hint, "Communications Plugin for NeoBook.");
  EXPECT_EQ(GlobalSize(GlobalHandle(hint)), 35u);
  EXPECT_EQ(GlobalSize(GlobalHandle(title)), strlen("Wirelet V1.8.0.3 PlugIn") + 1);
  EXPECT_EQ(GlobalFlags(GlobalHandle(title)) & GMEM_MOVEABLE, 0u);

  // A second call replaces the blocks (their release is checked in the
  // bridge's own tests, where memory calls are recorded).
  Wirelet().init(&title, &publisher, &hint);
  EXPECT_STREQ(title, "Wirelet V1.8.0.3 PlugIn");
  EXPECT_STREQ(hint, "Communications Plugin for NeoBook.");
}

TEST(Registration, FortyCallsWithStdcallCallbacks) {
  nbhost::PlugIn& p = Wirelet();
  p.clearLog();
  p.registerPlugIn(nbhost::CallbackKind::Stdcall);
  CheckRegistrations(p.registrations());
}

TEST(Registration, FortyCallsWithCdeclCallbacks) {
  nbhost::PlugIn& p = Wirelet();
  p.clearLog();
  p.registerPlugIn(nbhost::CallbackKind::Cdecl);
  CheckRegistrations(p.registrations());
  p.clearLog();
  p.registerPlugIn(nbhost::CallbackKind::Cdecl);  // registers the whole catalogue again
  CheckRegistrations(p.registrations());
  p.registerPlugIn(nbhost::CallbackKind::Stdcall);
}

TEST(Registration, StackIsBalancedWithBothKindsOfCallback) {
  nbhost::PlugIn& p = Wirelet();
  void* entry = reinterpret_cast<void*>(GetProcAddress(p.module(), "_nbRegisterPlugIn@16"));
  ASSERT_NE(entry, nullptr);
  p.registerPlugIn();  // makes `p` the receiver of the callbacks
  for (auto kind : {nbhost::CallbackKind::Cdecl, nbhost::CallbackKind::Stdcall}) {
    p.clearLog();
    const auto add = reinterpret_cast<uintptr_t>(nbhost::AddActionCallback(kind));
    const auto set = reinterpret_cast<uintptr_t>(nbhost::SetVariableCallback(kind));
    EXPECT_EQ(CallMeasuringStack(entry, add, 0, 0, set), 0);
    EXPECT_EQ(p.registrations().size(), 40u);
  }
}

TEST(Dispatch, EveryCatalogueNumberIsKnownAndNoOther) {
  nbhost::PlugIn& p = Wirelet();
  p.registerPlugIn();
  for (int n = 1; n <= 33; ++n) {
    EXPECT_EQ(p.edit(n), 1) << n;
  }
  for (int n : {0, 34, -1, 100, INT32_MAX, INT32_MIN}) {
    EXPECT_EQ(p.exec(n, ""), 0) << n;
    EXPECT_EQ(p.edit(n), 0) << n;
  }
  // The parameter list of an edit request is never read.
  EXPECT_EQ(p.edit(19, reinterpret_cast<void*>(1)), 1);
}

TEST(Dispatch, MarkerFormReturnsOneAndSetsNothing) {
  nbhost::PlugIn& p = Wirelet();
  p.registerPlugIn();
  p.clearLog();
  EXPECT_EQ(p.exec(7, "<#1,hello#>"), 1);
  EXPECT_EQ(p.exec(0, "<#>"), 1);
  EXPECT_TRUE(p.variableLog().empty());
}

TEST(Dispatch, NullParameterTextIsEmpty) {
  nbhost::PlugIn& p = Wirelet();
  p.registerPlugIn();
  const char* list[1] = {nullptr};
  EXPECT_EQ(p.execList(3, list), 1);
  EXPECT_EQ(p.execList(3, nullptr), 1);
}

TEST(Messages, HaveNoEffectAndMakeNoCallback) {
  nbhost::PlugIn& p = Wirelet();
  p.registerPlugIn();
  p.clearLog();
  for (int code : {0, 1, 10, 11, -5}) p.message(code, 123);
  p.registerScriptProcessor(reinterpret_cast<void*>(1));
  p.registerInterfaceAccess(reinterpret_cast<void*>(1));
  EXPECT_TRUE(p.registrations().empty());
  EXPECT_TRUE(p.variableLog().empty());
}

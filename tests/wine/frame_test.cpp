// The plug-in frame through the real Wirelet.nbp: identification, the 40
// registration calls with both kinds of callback, dispatch and edit answers.
#include <gtest/gtest.h>

#include <cfloat>
#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

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

// Quillport registers a subset under its own numbers; names and hints are
// the full edition's texts of the same name.
const std::pair<int32_t, const char*> kQuillport[33] = {
    {0, "Open-Close"}, {1, "wlCommOpen"}, {2, "wlCommOpenStd"}, {3, "wlCommClose"},
    {0, "Port Settings"}, {4, "wlCommSetBaud"}, {5, "wlCommSetTxBuffer"}, {6, "wlCommSetRxBuffer"},
    {0, "Transmit data"}, {7, "wlCommSend"}, {8, "wlCommSendCRLF"},
    {0, "Receive data"}, {9, "wlCommRxByte"}, {10, "wlCommRxS"}, {11, "wlCommRx"}, {12, "wlCommRxF"},
    {13, "wlCommRxLine"}, {14, "wlCommRxFlush"},
    {0, "Port Information"}, {15, "wlCommRxCount"}, {16, "wlCommGetBaud"},
    {0, "Flow Control"}, {17, "wlCommXonXoff"},
    {0, "TCP Client Comms"}, {18, "wlTCPopen"}, {19, "wlTCPclose"}, {20, "wlTCPsend"},
    {21, "wlTCPsendCRLF"}, {22, "wlTCPrxbyte"}, {23, "wlTCPrxline"}, {24, "wlTCPrxF"},
    {25, "wlTCPrxFT"}, {26, "wlTCPrxFlush"},
};

struct EditionCase {
  const char* file;
  const char* title;
  const char* hint;
  int32_t lastNumber;
  std::vector<Expected> catalogue;
};

std::vector<Expected> QuillportCatalogue() {
  std::vector<Expected> out;
  for (const auto& entry : kQuillport) {
    const char* hint = nullptr;
    for (const Expected& w : kWirelet) {
      if (entry.first != 0 && std::strcmp(w.name, entry.second) == 0) hint = w.hint;
    }
    out.push_back({entry.first, entry.second, hint});
  }
  return out;
}

std::vector<EditionCase> Editions() {
  return {
      {"Wirelet.nbp", "Wirelet V1.8.0.3 PlugIn", "Communications Plugin for NeoBook.", 33,
       std::vector<Expected>(kWirelet, kWirelet + 40)},
      {"Quillport.nbp", "Wirelet V7.01 PlugIn", "RS232 Communications Plugin for NeoBook.", 26,
       QuillportCatalogue()},
  };
}

class Frame : public ::testing::TestWithParam<EditionCase> {
 protected:
  nbhost::PlugIn& plugIn() {
    static std::map<std::string, nbhost::PlugIn*> loaded;
    nbhost::PlugIn*& p = loaded[GetParam().file];
    if (p == nullptr) {
      p = new nbhost::PlugIn;
      std::string error;
      if (!p->load(wltest::OutputFile(GetParam().file), &error)) ADD_FAILURE() << error;
    }
    return *p;
  }
};

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

void CheckRegistrations(const std::vector<nbhost::Registration>& calls,
                        const std::vector<Expected>& expected) {
  ASSERT_EQ(calls.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    const Expected& e = expected[i];
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

TEST_P(Frame, IdentificationFillsTheThreeSlotsWithExactBlocks) {
  char* title = nullptr;
  char* publisher = nullptr;
  char* hint = nullptr;
  plugIn().init(&title, &publisher, &hint);
  ASSERT_NE(title, nullptr);
  ASSERT_NE(hint, nullptr);
  EXPECT_STREQ(title, GetParam().title);
  EXPECT_STREQ(publisher, "Norvale");
  EXPECT_STREQ(hint, GetParam().hint);
  EXPECT_EQ(GlobalSize(GlobalHandle(hint)), strlen(GetParam().hint) + 1);
  EXPECT_EQ(GlobalSize(GlobalHandle(title)), strlen(GetParam().title) + 1);
  EXPECT_EQ(GlobalFlags(GlobalHandle(title)) & GMEM_MOVEABLE, 0u);
  // A second call replaces the blocks (their release is checked in the
  // bridge's own tests, where memory calls are recorded).
  plugIn().init(&title, &publisher, &hint);
  EXPECT_STREQ(title, GetParam().title);
}

TEST_P(Frame, RegistersItsCatalogueWithStdcallCallbacks) {
  plugIn().registerPlugIn(nbhost::CallbackKind::Stdcall);
  CheckRegistrations(plugIn().registrations(), GetParam().catalogue);
}

TEST_P(Frame, RegistersItsCatalogueWithCdeclCallbacks) {
  nbhost::PlugIn& p = plugIn();
  p.registerPlugIn(nbhost::CallbackKind::Cdecl);
  CheckRegistrations(p.registrations(), GetParam().catalogue);
  p.registerPlugIn(nbhost::CallbackKind::Cdecl);  // the whole catalogue again
  CheckRegistrations(p.registrations(), GetParam().catalogue);
  p.registerPlugIn(nbhost::CallbackKind::Stdcall);
}

TEST_P(Frame, StackIsBalancedWithBothKindsOfCallback) {
  nbhost::PlugIn& p = plugIn();
  void* entry = reinterpret_cast<void*>(GetProcAddress(p.module(), "_nbRegisterPlugIn@16"));
  ASSERT_NE(entry, nullptr);
  p.registerPlugIn();  // makes `p` the receiver of the callbacks
  for (auto kind : {nbhost::CallbackKind::Cdecl, nbhost::CallbackKind::Stdcall}) {
    const size_t before = p.registrations().size();
    const auto add = reinterpret_cast<uintptr_t>(nbhost::AddActionCallback(kind));
    const auto set = reinterpret_cast<uintptr_t>(nbhost::SetVariableCallback(kind));
    EXPECT_EQ(CallMeasuringStack(entry, add, 0, 0, set), 0);
    EXPECT_EQ(p.registrations().size() - before, GetParam().catalogue.size());
  }
  p.registerPlugIn();
}

TEST_P(Frame, ExactlyTheCatalogueNumbersAreKnown) {
  nbhost::PlugIn& p = plugIn();
  p.registerPlugIn();
  const int32_t last = GetParam().lastNumber;
  for (int n = 1; n <= last; ++n) EXPECT_EQ(p.edit(n), 1) << n;
  for (int n : {0, last + 1, 33, 34, -1, 100, INT32_MAX, INT32_MIN}) {
    if (n >= 1 && n <= last) continue;
    EXPECT_EQ(p.exec(n, ""), 0) << n;
    EXPECT_EQ(p.edit(n), 0) << n;
  }
  // The parameter list of an edit request is never read.
  EXPECT_EQ(p.edit(1, reinterpret_cast<void*>(1)), 1);
}

TEST_P(Frame, MarkerFormReturnsOneAndSetsNothing) {
  nbhost::PlugIn& p = plugIn();
  p.registerPlugIn();
  p.clearLog();
  EXPECT_EQ(p.exec("wlCommSend", "<#1,hello#>"), 1);
  EXPECT_EQ(p.exec(0, "<#>"), 1);
  EXPECT_TRUE(p.variableLog().empty());
}

TEST_P(Frame, NullParameterTextIsEmpty) {
  nbhost::PlugIn& p = plugIn();
  p.registerPlugIn();
  const char* list[1] = {nullptr};
  EXPECT_EQ(p.execList(p.number("wlCommClose"), list), 1);
  EXPECT_EQ(p.execList(p.number("wlCommClose"), nullptr), 1);
}

TEST_P(Frame, MessagesHaveNoEffectAndMakeNoCallback) {
  nbhost::PlugIn& p = plugIn();
  p.registerPlugIn();
  const size_t registered = p.registrations().size();
  p.clearLog();
  for (int code : {0, 1, 10, 11, -5}) p.message(code, 123);
  p.registerScriptProcessor(reinterpret_cast<void*>(1));
  p.registerInterfaceAccess(reinterpret_cast<void*>(1));
  EXPECT_EQ(p.registrations().size(), registered);
  EXPECT_TRUE(p.variableLog().empty());
}

// Delphi hosts run with floating-point exceptions unmasked. Extreme numbers
// in a parameter must not raise one inside the plug-in, and the host's
// control word must be as it was when the action returns.
TEST_P(Frame, ActionsLeaveTheHostsFloatingPointControlAlone) {
  nbhost::PlugIn& p = plugIn();
  p.registerPlugIn();
  const unsigned int saved = _control87(0, 0);
  _control87(_EM_DENORMAL | _EM_UNDERFLOW | _EM_INEXACT, _MCW_EM);
  const unsigned int host = _control87(0, 0);
  for (const char* text : {"1E99999,1E99999", "-1E99999,&HFFFFFFFFFFFFFFFF?", "1E-99999,0.5"}) {
    EXPECT_EQ(p.exec("wlCommSetBaud", text), 1) << text;
    EXPECT_EQ(p.exec("wlCommClose", text), 1) << text;
    EXPECT_EQ(_control87(0, 0), host) << text;
  }
  _control87(saved, 0xFFFFFFFF);
}

uint16_t X87Status() {
  uint16_t status = 0;
  asm volatile("fnstsw %0" : "=m"(status));
  return status;
}

uint32_t SseControl() {
  uint32_t control = 0;
  asm volatile("stmxcsr %0" : "=m"(control));
  return control;
}

void SetSseControl(uint32_t control) { asm volatile("ldmxcsr %0" : : "m"(control)); }

// The host's status flags (raised before the action) and its SSE control and
// status come back as they were, whether or not the action raised flags of
// its own (an overflowing number does, a plain one does not), and flags
// raised in the action are dropped.
TEST_P(Frame, ActionsPutBackTheHostsFloatingPointStatus) {
  nbhost::PlugIn& p = plugIn();
  p.registerPlugIn();
  const uint32_t savedSse = SseControl();
  for (bool hostFlags : {false, true}) {
    _clear87();  // clears the SSE flags too
    // Flush to zero, the invalid-operation flag raised, all masked.
    SetSseControl(0x1F80 | 0x8000 | 0x0001);
    if (hostFlags) {
      volatile long double third = 1.0L;
      third = third / 3.0L;  // inexact
    }
    const uint16_t status = X87Status();
    EXPECT_EQ((status & 0x3F) != 0, hostFlags);
    for (const char* text : {"1E99999,1E99999", "9,115200", "-1E99999,0.5"}) {
      p.exec("wlCommSetBaud", text);
      EXPECT_EQ(X87Status(), status) << text << (hostFlags ? ", host flags raised" : "");
      EXPECT_EQ(SseControl(), 0x1F80u | 0x8000u | 0x0001u) << text;
    }
  }
  _clear87();
  SetSseControl(savedSse);
}

INSTANTIATE_TEST_SUITE_P(Editions, Frame, ::testing::ValuesIn(Editions()),
                         [](const auto& info) {
                           std::string f = info.param.file;
                           return f.substr(0, f.find('.'));
                         });

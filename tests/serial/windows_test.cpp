// Wirelet's serial actions on ports as Windows hands them over on authors'
// machines: time-outs and DCB fields another program left, a timer tick that
// stretches every Sleep, an adapter pulled out and plugged in again, port
// numbers past 16. All on the recording fake device and its clock.
#include "engine_host.h"

namespace {

using wltest::FakePort;

constexpr DWORD kMax = MAXDWORD;

class Windows : public wltest::EngineTest {
 protected:
  // Opens port `port` with wlCommOpenStd.
  void open(const std::string& port) {
    run("wlCommOpenStd", port + ",9600");
    ASSERT_EQ(var("wlOpenCommErr"), " 0");
    ASSERT_EQ(var("wlCommErr"), " 0");
  }
  void expectNoEndlessWait() {
    EXPECT_TRUE(fake.foreverWaits().empty()) << fake.foreverWaits().front();
  }
};

using WindowsInherited = Windows;
using WindowsTick = Windows;
using WindowsRemoval = Windows;
using WindowsPorts = Windows;

bool Same(const COMMTIMEOUTS& a, const COMMTIMEOUTS& b) {
  return a.ReadIntervalTimeout == b.ReadIntervalTimeout &&
         a.ReadTotalTimeoutMultiplier == b.ReadTotalTimeoutMultiplier &&
         a.ReadTotalTimeoutConstant == b.ReadTotalTimeoutConstant &&
         a.WriteTotalTimeoutMultiplier == b.WriteTotalTimeoutMultiplier &&
         a.WriteTotalTimeoutConstant == b.WriteTotalTimeoutConstant;
}

}  // namespace

// What .NET (an infinite ReadTimeout), libserialport, pyserial
// (write_timeout=0) and a program with waits of hours leave on a port: each
// would let a read of a silent device, or a write held by flow control,
// hold the host for days. Receives take the quiet collection, sends the
// write bound, and the close puts the port's own time-outs back.
TEST_F(WindowsInherited, TimeoutsOfOtherProgramsKeepReceivesAndSendsBounded) {
  const COMMTIMEOUTS left[] = {
      {kMax, kMax, kMax - 1, 0, 0},  // .NET, libserialport: first byte, or 49 days
      {kMax, 10, kMax, 0, kMax},     // no timer at all; pyserial's write constant
      {0, 0, 3600000, 0, 7200000},   // an hour to read, two to write
  };
  for (const COMMTIMEOUTS& before : left) {
    SCOPED_TRACE(before.ReadTotalTimeoutConstant);
    FakePort& p = fake.addPort("COM3");
    p.timeouts = before;
    open("3");
    DWORD start = fake.now();
    run("wlCommRxS", "3,5,s");
    EXPECT_EQ(var("s"), "");
    EXPECT_EQ(var("wlCommErr"), " 0");
    EXPECT_LE(fake.now() - start, wl::kQuietLimitMilliseconds + 50);
    // A late answer still comes whole within the quiet limit.
    fake.arrive("COM3", "12345", 600);
    run("wlCommRxS", "3,5,s");
    EXPECT_EQ(var("s"), "12345");

    p.cts = false;  // the device holds CTS low; the program before left CTS flow on
    p.dcb.fOutxCtsFlow = 1;
    start = fake.now();
    run("wlCommSend", "3,hello");
    EXPECT_EQ(var("wlCommErr"), " 69");
    EXPECT_LE(fake.now() - start, wl::kWriteStartMilliseconds + 1000);
    run("wlCommClose", "3");
    EXPECT_TRUE(Same(p.timeouts, before)) << "the port's own time-outs were not put back";
    expectNoEndlessWait();
  }
  // Time-outs of our own size stand: Quillport's read of 5 bytes waits 250 ms.
  FakePort& p = fake.addPort("COM3");
  p.timeouts = COMMTIMEOUTS{500, 10, 200, 2, 500};
  open("3");
  const DWORD start = fake.now();
  run("wlCommRxS", "3,5,s");
  EXPECT_EQ(fake.now() - start, 250u);
  EXPECT_EQ(wltest::CallNames(fake.callsOn("COM3")).back(), "ReadFile");
}

// The fields that drop or alter bytes and that no action sets are cleared
// by the open, in the same setting step an open makes anyway; Wirelet keeps
// the flow control and modem lines its flow actions set.
TEST_F(WindowsInherited, AnOpenClearsWhatDropsOrAltersBytesAndKeepsTheFlowSettings) {
  FakePort& fresh = fake.addPort("COM4");
  open("4");
  const std::vector<std::string> freshCalls = wltest::CallNames(fake.callsOn("COM4"));

  FakePort& p = fake.addPort("COM3");
  p.dcb.fAbortOnError = 1;
  p.dcb.fNull = 1;
  p.dcb.fDsrSensitivity = 1;
  p.dcb.fErrorChar = 1;
  p.dcb.ErrorChar = '?';
  p.dcb.fOutxCtsFlow = 1;
  p.dcb.fDtrControl = DTR_CONTROL_DISABLE;  // as .NET leaves it after its close
  open("3");
  EXPECT_EQ(p.dcb.fAbortOnError, 0u);
  EXPECT_EQ(p.dcb.fNull, 0u);
  EXPECT_EQ(p.dcb.fDsrSensitivity, 0u);
  EXPECT_EQ(p.dcb.fErrorChar, 0u);
  EXPECT_EQ(p.dcb.fOutxCtsFlow, 1u);
  EXPECT_EQ(p.dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_DISABLE));
  EXPECT_EQ(wltest::CallNames(fake.callsOn("COM3")), freshCalls) << "the open made other calls";
  EXPECT_EQ(fresh.dcb.fAbortOnError, 0u);
  // A line error at the device's power-up no longer fails every send with
  // 995 until an error query: a send-only script goes on working.
  p.lineErrors = CE_FRAME;
  run("wlCommSend", "3,abc");
  EXPECT_EQ(var("wlCommErr"), " 0");
  EXPECT_EQ(p.sent, "abc");
  // Later settings leave what the script set alone.
  run("wlCommSetDTRflow", "3,1");
  EXPECT_EQ(p.dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_HANDSHAKE));
}

// Windows sleeps to a timer tick (15.6 ms by default): the idle time-out is
// quiet measured on the clock, so a Sleep(10) that lasts 16 ms does not make
// 1 s into 1.6 s, nor 10 s into 16 s.
TEST_F(WindowsTick, TheIdleTimeoutHoldsWhenSleepsOvershoot) {
  fake.addPort("COM3");
  open("3");
  fake.setTimerTick(16);
  for (const auto& [field, quiet] : {std::pair<const char*, DWORD>{"100", 1010},
                                     {"1000", 10010}, {"1", 20}}) {
    SCOPED_TRACE(field);
    const DWORD start = fake.now();
    run("wlCommRxLine", std::string("3,l,") + field);
    EXPECT_EQ(var("wlCommEof"), "1");
    EXPECT_GE(fake.now() - start, quiet);
    EXPECT_LT(fake.now() - start, quiet + 16 + 1) << "more than one poll over the time-out";
  }
  // Every stored character starts the quiet again.
  fake.arrive("COM3", "a", 900);
  fake.arrive("COM3", "b", 1800);
  const DWORD start = fake.now();
  run("wlCommRxLine", "3,l,100");
  EXPECT_EQ(var("l"), "ab");
  EXPECT_GE(fake.now() - start, 1800u + 1010u);
  EXPECT_LT(fake.now() - start, 1800u + 1010u + 2 * 16u + 1u);
}

// A removed adapter fails calls with one of several codes, depending on the
// driver. Confirmed by the harmless query, the port is gone: every action
// reports 71 at once without touching the handle, until the port is closed
// or opened again; an open replaces the stale handle (the port opens again
// only once it is closed), with or without a close first, and a live port
// still gives 55. One failure with such a code alone (995 after a line
// error under abort-on-error) is no removal.
TEST_F(WindowsRemoval, AGoneDeviceIsReportedAtOnceAndReopens) {
  const DWORD codes[] = {ERROR_BAD_COMMAND,       ERROR_GEN_FAILURE,          ERROR_ACCESS_DENIED,
                         ERROR_OPERATION_ABORTED, ERROR_DEVICE_NOT_CONNECTED, ERROR_DEVICE_REMOVED,
                         ERROR_NOT_READY};
  const std::pair<const char*, const char*> actions[] = {
      {"wlCommSend", "3,x"},         {"wlCommRxLine", "3,l,1000"}, {"wlCommRxS", "3,5,s"},
      {"wlCommSetBaud", "3,19200"},  {"wlCommGetBaud", "3,b"},     {"wlCommRxFlush", "3"},
      {"wlCommSetRxBuffer", "3,99"}, {"wlCommRxByte", "3,b,c"},    {"wlCommXonXoff", "3,1"}};
  for (const DWORD code : codes) {
    SCOPED_TRACE(code);
    fake.addPort("COM3");
    open("3");
    fake.unplug("COM3", code);
    run("wlCommRxCount", "3,n");
    EXPECT_EQ(var("wlCommErr"), " 71");
    fake.clearLog();
    const DWORD start = fake.now();
    for (const auto& [action, parameters] : actions) {
      run(action, parameters);
      EXPECT_EQ(var("wlCommErr"), " 71") << action;
    }
    EXPECT_LT(fake.now() - start, 100u) << "an action waited on a device that is gone";
    EXPECT_TRUE(fake.callsOn("COM3").empty()) << "the stale handle was used";
    fake.plugIn("COM3");
    const bool closeFirst = code == ERROR_NOT_READY;
    if (closeFirst) {
      run("wlCommClose", "3");
      EXPECT_EQ(var("wlCommErr"), " 0");
    }
    open("3");
    EXPECT_EQ(fake.openPortHandles(), 1);
    run("wlCommSend", "3,ok");
    EXPECT_EQ(var("wlCommErr"), " 0");
    run("wlCommClose", "3");
  }
  FakePort& p = fake.addPort("COM3");
  open("3");
  run("wlCommOpenStd", "3,9600");
  EXPECT_EQ(var("wlOpenCommErr"), " 55");
  const size_t sent = p.sent.size();
  fake.failCall("WriteFile", ERROR_OPERATION_ABORTED);
  run("wlCommSend", "3,x");
  EXPECT_EQ(var("wlCommErr"), " 69");
  run("wlCommSend", "3,y");
  EXPECT_EQ(var("wlCommErr"), " 0");
  EXPECT_EQ(p.sent.substr(sent), "y");
}

// Windows numbers USB adapters well past 16: every port up to 256 opens
// under the device namespace's name, 257 and 0 end silently.
TEST_F(WindowsPorts, PortsUpTo256OpenTheirNames) {
  for (const char* port : {"17", "40", "256"}) {
    FakePort& p = fake.addPort(std::string("\\\\.\\COM") + port);
    open(port);
    run("wlCommSend", std::string(port) + ",hi");
    EXPECT_EQ(p.sent, "hi");
    run("wlCommClose", port);
    EXPECT_EQ(var("wlCommErr"), " 0");
  }
  fake.clearLog();
  run("wlCommOpenStd", "257,9600");
  EXPECT_EQ(var("wlOpenCommErr"), "<unset>");
  EXPECT_TRUE(fake.log().empty());
}

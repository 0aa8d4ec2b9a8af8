// Wirelet's serial actions on the recording fake device: what lands in the
// DCB, the queue sizes, line errors, refused and short calls, the order of
// each action's calls, and that no call could wait for ever.
#include <algorithm>

#include "engine_host.h"
#include "support/paths.h"

namespace {

using wltest::CallNames;
using wltest::FakePort;

const char kGenericReadWrite[] = "3221225472";  // GENERIC_READ | GENERIC_WRITE

// The calls on a port without the time-out calls, which are how the layer
// bounds its waits rather than steps of an action.
std::vector<std::string> Steps(const std::vector<std::string>& calls) {
  std::vector<std::string> out;
  for (const std::string& c : CallNames(calls)) {
    if (c != "GetCommTimeouts" && c != "SetCommTimeouts") out.push_back(c);
  }
  return out;
}

class Device : public wltest::EngineTest {
 protected:
  FakePort& open(const std::string& name, const std::string& port) {
    FakePort& p = fake.addPort(name);
    run("wlCommOpenStd", port + ",9600");
    EXPECT_EQ(var("wlCommErr"), " 0");
    fake.clearLog();
    return p;
  }
};

using DeviceOpen = Device;
using DeviceSettings = Device;
using DeviceFlow = Device;
using DeviceQuery = Device;
using DeviceSend = Device;
using DeviceReceive = Device;

}  // namespace

TEST_F(DeviceOpen, OpenStdMakesItsStepsInOrderAndEndsAt8N1) {
  FakePort& p = fake.addPort("COM3");
  p.dcb.ByteSize = 7;
  p.dcb.fParity = 1;
  p.dcb.Parity = EVENPARITY;
  p.dcb.StopBits = TWOSTOPBITS;
  const COMMTIMEOUTS before = p.timeouts;
  run("wlCommOpenStd", "3,19200");
  EXPECT_EQ(setOrder(), (std::vector<std::string>{"wlOpenCommErr", "wlCommErr"}));
  EXPECT_EQ(var("wlOpenCommErr"), " 0");
  EXPECT_EQ(var("wlCommErr"), " 0");
  const std::vector<std::string> calls = fake.callsOn("COM3");
  ASSERT_FALSE(calls.empty());
  // Opened for reading and writing, unshared, and only when it exists.
  EXPECT_EQ(calls[0], std::string("CreateFileA ") + kGenericReadWrite + " 0 3");
  EXPECT_EQ(Steps(calls),
            (std::vector<std::string>{"CreateFileA", "GetCommState", "SetCommState", "GetCommState",
                                      "SetCommState", "GetCommProperties", "SetupComm",
                                      "GetCommProperties", "SetupComm", "GetCommState",
                                      "SetCommState", "GetCommState", "SetCommState"}));
  EXPECT_EQ(p.dcb.BaudRate, 19200u);
  EXPECT_EQ(p.dcb.ByteSize, 8);
  EXPECT_EQ(p.dcb.fParity, 0u);
  EXPECT_EQ(p.dcb.Parity, NOPARITY);
  EXPECT_EQ(p.dcb.StopBits, ONESTOPBIT);
  EXPECT_EQ(p.setupComm, (std::vector<std::pair<DWORD, DWORD>>{{4096, 4096}, {4096, 4096}}));
  // Opening leaves the port's time-outs as they were.
  EXPECT_EQ(std::memcmp(&p.timeouts, &before, sizeof before), 0);
}

TEST_F(DeviceOpen, FramingFollowsTheDataBitsRules) {
  struct Case {
    const char* fields;  // bits,parity,stop
    BYTE byteSize;
    DWORD parityOn;
    BYTE parity, stopBits;
    const char* err;
  };
  const Case cases[] = {
      {"8,2,2", 8, 0, NOPARITY, ONESTOPBIT, " 0"},
      {"7,2,2", 7, 1, EVENPARITY, ONESTOPBIT, " 0"},
      // One and a half stop bits go only with 5 data bits: a driver refuses
      // them while the port still has 8, so that step reports 5, and the
      // data bits set last decide the stop bits.
      {"6,1,1", 6, 1, ODDPARITY, ONESTOPBIT, " 5"},
      {"5,0,2", 5, 0, NOPARITY, ONE5STOPBITS, " 0"},
      {"5,3,1", 5, 1, MARKPARITY, ONESTOPBIT, " 5"},
      {"5,4,0", 5, 1, SPACEPARITY, ONESTOPBIT, " 0"},
      {"4,1,2", 8, 1, ODDPARITY, TWOSTOPBITS, " 5"},  // fewer than 5 data bits are refused
      {"7,7,3", 7, 0, NOPARITY, ONESTOPBIT, " 0"},    // parity 7 is off, stop 3 is one
      {"9,0,0", 8, 0, NOPARITY, ONESTOPBIT, " 5"},    // the device refuses 9 bits
      {"7,5,0", 7, 1, NOPARITY, ONESTOPBIT, " 5"},    // parity type 5 refused, enable kept
  };
  for (const Case& c : cases) {
    FakePort& p = fake.addPort("COM2");  // a fresh device each time
    run("wlCommOpen", std::string("2,9600,") + c.fields + ",4096,4096");
    SCOPED_TRACE(c.fields);
    EXPECT_EQ(var("wlOpenCommErr"), " 0");
    EXPECT_EQ(var("wlCommErr"), c.err);
    EXPECT_EQ(p.dcb.ByteSize, c.byteSize);
    EXPECT_EQ(p.dcb.fParity, c.parityOn);
    EXPECT_EQ(p.dcb.Parity, c.parity);
    EXPECT_EQ(p.dcb.StopBits, c.stopBits);
    run("wlCommClose", "2");
  }
}

TEST_F(DeviceOpen, OpenPassesQueueSizesUnlimitedAndKeepsTheOtherSide) {
  FakePort& p = fake.addPort("COM4");
  run("wlCommOpen", "4,9600,8,0,0,20000,65536");
  EXPECT_EQ(var("wlCommErr"), " 0");
  // Each call asks for its own side and the other side's current size.
  EXPECT_EQ(p.setupComm, (std::vector<std::pair<DWORD, DWORD>>{{4096, 20000}, {65536, 20000}}));
}

TEST_F(DeviceOpen, FailedOpensLeaveNoChannelAndNoHandle) {
  fake.addPort("COM9");
  fake.failCall("CreateFileA", ERROR_ACCESS_DENIED, 1, 1, "COM9");
  run("wlCommOpenStd", "9,9600");
  EXPECT_EQ(var("wlOpenCommErr"), " 70");
  EXPECT_EQ(var("wlCommErr"), " 52");
  // "1abc" names no device: no such device, and nothing created.
  run("wlCommOpenStd", "1abc,9600");
  EXPECT_EQ(var("wlOpenCommErr"), " 53");
  EXPECT_EQ(var("wlCommErr"), " 52");
  EXPECT_EQ(fake.callsOn("COM1abc"), (std::vector<std::string>{std::string("CreateFileA ") +
                                                               kGenericReadWrite + " 0 3"}));
  // A name with a wildcard is refused before any call.
  fake.clearLog();
  run("wlCommOpenStd", "3*,9600");
  EXPECT_EQ(var("wlOpenCommErr"), " 64");
  EXPECT_TRUE(fake.log().empty());
  EXPECT_EQ(fake.openHandles(), 0);
  EXPECT_EQ(wl::Channels().find(9), nullptr);
  EXPECT_EQ(wl::Channels().find(1), nullptr);
  EXPECT_EQ(wl::Channels().find(3), nullptr);
}

TEST_F(DeviceOpen, OpeningAnOpenPortReports55AndSetsTheOpenPort) {
  FakePort& p = fake.addPort("COM5");
  run("wlCommOpen", "5,2400,7,2,0,4096,4096");
  EXPECT_EQ(p.dcb.ByteSize, 7);
  run("wlCommOpenStd", "5,19200");
  EXPECT_EQ(var("wlOpenCommErr"), " 55");
  EXPECT_EQ(var("wlCommErr"), " 55");
  EXPECT_EQ(p.opens, 1);
  EXPECT_EQ(p.dcb.ByteSize, 8);
  EXPECT_EQ(p.dcb.fParity, 0u);
  EXPECT_EQ(p.dcb.BaudRate, 19200u);
  EXPECT_EQ(fake.openPortHandles(), 1);
}

TEST_F(DeviceOpen, HighPortsOpenUnderTheDevicePathAndTheFieldTextIsKept) {
  fake.addPort("\\\\.\\COM12");
  fake.addPort("COM03");
  run("wlCommOpenStd", "12,9600");
  EXPECT_EQ(var("wlOpenCommErr"), " 0");
  run("wlCommOpenStd", "03,9600");
  EXPECT_EQ(var("wlOpenCommErr"), " 0");
  // 2.5 is port 2 (halves go to even), opened under the field's own text.
  fake.addPort("COM2.5");
  run("wlCommOpenStd", "2.5,9600");
  EXPECT_EQ(var("wlOpenCommErr"), " 0");
  EXPECT_NE(wl::Channels().find(2), nullptr);
  EXPECT_EQ(fake.openPortHandles(), 3);
}

TEST_F(DeviceOpen, WrongFieldCountsAndPortsTouchNothing) {
  fake.addPort("COM1");
  for (const char* p : {"1,9600,8,0,0,4096", "1,9600,8,0,0,4096,4096,1", "0,9600,8,0,0,4096,4096",
                        "257,9600,8,0,0,4096,4096", ",9600,8,0,0,4096,4096"}) {
    run("wlCommOpen", p);
    EXPECT_TRUE(nothingSet()) << p;
  }
  for (const char* p : {"1", "1,9600,1", "257,9600", "1,2"}) {
    run(p == std::string("1,2") ? "wlCommClose" : "wlCommOpenStd", p);
    EXPECT_TRUE(nothingSet()) << p;
  }
  EXPECT_TRUE(fake.log().empty());
}

TEST_F(DeviceOpen, CloseReportsZeroAndAFailedCloseStillFreesThePort) {
  fake.addPort("COM6");
  run("wlCommClose", "6");
  EXPECT_EQ(var("wlCommErr"), " 0");
  run("wlCommOpenStd", "6,9600");
  fake.failCall("CloseHandle", ERROR_INVALID_HANDLE);
  run("wlCommClose", "6");
  EXPECT_EQ(var("wlCommErr"), " 51");
  EXPECT_EQ(wl::Channels().find(6), nullptr);
  run("wlCommClose", "\"6\"");  // a quoted port reads as 0: nothing happens
  EXPECT_TRUE(nothingSet());
}

TEST_F(DeviceSettings, BaudRatesOutsideTheTableBecome9600) {
  FakePort& p = open("COM1", "1");
  for (const char* rate : {"1200", "2400", "4800", "9600", "19200", "28800", "38400", "57600",
                           "115200"}) {
    run("wlCommSetBaud", std::string("1,") + rate);
    EXPECT_EQ(p.dcb.BaudRate, std::stoul(rate));
    run("wlCommGetBaud", "1,b");
    EXPECT_EQ(var("b"), std::string(" ") + rate);
  }
  for (const char* rate : {"300", "0", "-9600", "abc", "14400", "230400"}) {
    p.dcb.BaudRate = 1200;
    run("wlCommSetBaud", std::string("1,") + rate);
    EXPECT_EQ(p.dcb.BaudRate, 9600u) << rate;
    EXPECT_EQ(var("wlCommErr"), " 0");
  }
}

TEST_F(DeviceSettings, QueueSizesAreLoweredTo8192And32768) {
  FakePort& p = open("COM1", "1");
  p.setupComm.clear();
  run("wlCommSetTxBuffer", "1,10000");
  run("wlCommSetRxBuffer", "1,65536");
  run("wlCommSetRxBuffer", "1,32768");
  run("wlCommSetTxBuffer", "1,0");
  EXPECT_EQ(var("wlCommErr"), " 0");
  EXPECT_EQ(p.setupComm, (std::vector<std::pair<DWORD, DWORD>>{
                             {4096, 8192}, {32768, 8192}, {32768, 8192}, {32768, 0}}));
  // A size the device cannot keep is refused with 5.
  p.properties.dwMaxRxQueue = 8192;
  run("wlCommSetRxBuffer", "1,16384");
  EXPECT_EQ(var("wlCommErr"), " 5");
  // A failed property query records its number and asks for nothing.
  fake.failCall("GetCommProperties", ERROR_INVALID_HANDLE);
  fake.clearLog();
  run("wlCommSetTxBuffer", "1,100");
  EXPECT_EQ(var("wlCommErr"), " 51");
  EXPECT_EQ(Steps(fake.callsOn("COM1")), (std::vector<std::string>{"GetCommProperties"}));
}

TEST_F(DeviceSettings, ARefusedOrUnreadableStateIsReported) {
  FakePort& p = open("COM1", "1");
  fake.failCall("SetCommState", ERROR_INVALID_PARAMETER);
  run("wlCommSetBaud", "1,57600");
  EXPECT_EQ(var("wlCommErr"), " 5");
  EXPECT_EQ(p.dcb.BaudRate, 9600u);
  fake.failCall("GetCommState", ERROR_GEN_FAILURE);
  fake.clearLog();
  run("wlCommSetBaud", "1,57600");
  EXPECT_EQ(var("wlCommErr"), " 72");
  // 31 is also what a removed adapter gives: the harmless query that would
  // confirm it works, so the device is not taken for gone.
  EXPECT_EQ(Steps(fake.callsOn("COM1")),
            (std::vector<std::string>{"GetCommState", "ClearCommError"}));
  fake.failCall("GetCommState", ERROR_INVALID_DRIVE);
  run("wlCommGetBaud", "1,b");
  EXPECT_EQ(var("b"), " 0");
  EXPECT_EQ(var("wlCommErr"), " 68");
  // Settings on a port that is not open make no call.
  fake.clearLog();
  run("wlCommSetBaud", "2,57600");
  EXPECT_EQ(var("wlCommErr"), " 52");
  EXPECT_TRUE(fake.log().empty());
}

TEST_F(DeviceFlow, EachFlowSettingLandsInItsField) {
  FakePort& p = open("COM1", "1");
  run("wlCommSetCTSflow", "1,1");
  EXPECT_EQ(p.dcb.fOutxCtsFlow, 1u);
  run("wlCommSetCTSflow", "1,0");
  EXPECT_EQ(p.dcb.fOutxCtsFlow, 0u);
  run("wlCommSetCTSflow", "1,-1");  // no lower bound: any non-zero is on
  EXPECT_EQ(p.dcb.fOutxCtsFlow, 1u);
  run("wlCommSetDSRflow", "1,1");
  EXPECT_EQ(p.dcb.fOutxDsrFlow, 1u);
  run("wlCommSetDTRflow", "1,1");
  EXPECT_EQ(p.dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_HANDSHAKE));
  run("wlCommSetDTRflow", "1,0");
  EXPECT_EQ(p.dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_DISABLE));
  const std::pair<const char*, DWORD> rts[] = {
      {"0", RTS_CONTROL_DISABLE}, {"1", RTS_CONTROL_ENABLE}, {"2", RTS_CONTROL_HANDSHAKE},
      {"3", RTS_CONTROL_TOGGLE},  {"-1", RTS_CONTROL_TOGGLE}, {"-2", RTS_CONTROL_HANDSHAKE},
      {"-3", RTS_CONTROL_ENABLE}, {"-4", RTS_CONTROL_DISABLE}};
  for (const auto& r : rts) {
    run("wlCommSetRTSflow", std::string("1,") + r.first);
    EXPECT_EQ(p.dcb.fRtsControl, r.second) << r.first;
    EXPECT_EQ(var("wlCommErr"), " 0");
  }
  p.dcb.fTXContinueOnXoff = 1;
  run("wlCommXonXoff", "1,1");
  EXPECT_EQ(p.dcb.fInX, 1u);
  EXPECT_EQ(p.dcb.fOutX, 1u);
  EXPECT_EQ(p.dcb.fTXContinueOnXoff, 0u);
  p.dcb.fTXContinueOnXoff = 1;
  run("wlCommXonXoff", "1,0");
  EXPECT_EQ(p.dcb.fInX, 0u);
  EXPECT_EQ(p.dcb.fOutX, 0u);
  EXPECT_EQ(p.dcb.fTXContinueOnXoff, 0u);
}

TEST_F(DeviceFlow, SettingsAboveTheRangeEndSilently) {
  FakePort& p = open("COM1", "1");
  for (const char* action : {"wlCommSetCTSflow", "wlCommSetDSRflow", "wlCommSetDTRflow"}) {
    run(action, "1,2");
    EXPECT_TRUE(nothingSet()) << action;
  }
  run("wlCommSetRTSflow", "1,4");
  EXPECT_TRUE(nothingSet());
  EXPECT_TRUE(fake.log().empty());
  EXPECT_EQ(p.dcb.fOutxCtsFlow, 0u);
}

TEST_F(DeviceFlow, FlowResetClearsFlowAndKeepsFraming) {
  FakePort& p = open("COM1", "1");
  run("wlCommOpen", "1,57600,7,2,0,4096,4096");  // 55, but the settings apply
  run("wlCommSetRTSflow", "1,2");
  run("wlCommSetDTRflow", "1,1");
  run("wlCommSetCTSflow", "1,1");
  run("wlCommSetDSRflow", "1,1");
  run("wlCommXonXoff", "1,1");
  p.dcb.fDsrSensitivity = 1;
  p.dcb.fTXContinueOnXoff = 1;
  run("wlCommFlowReset", "1,2");
  EXPECT_TRUE(nothingSet());
  run("wlCommFlowReset", "1");
  EXPECT_EQ(var("wlCommErr"), " 0");
  EXPECT_EQ(p.dcb.fOutxCtsFlow, 0u);
  EXPECT_EQ(p.dcb.fOutxDsrFlow, 0u);
  EXPECT_EQ(p.dcb.fDsrSensitivity, 0u);
  EXPECT_EQ(p.dcb.fTXContinueOnXoff, 0u);
  EXPECT_EQ(p.dcb.fInX, 0u);
  EXPECT_EQ(p.dcb.fOutX, 0u);
  EXPECT_EQ(p.dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_DISABLE));
  EXPECT_EQ(p.dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE));
  EXPECT_EQ(p.dcb.BaudRate, 57600u);
  EXPECT_EQ(p.dcb.ByteSize, 7);
  EXPECT_EQ(p.dcb.fParity, 1u);
  EXPECT_EQ(p.dcb.Parity, EVENPARITY);
  EXPECT_EQ(p.dcb.StopBits, ONESTOPBIT);
}

TEST_F(DeviceQuery, LineErrorsOfTheMaskReport57OnceThenTheTrueCount) {
  FakePort& p = open("COM1", "1");
  fake.arrive("COM1", "hello");
  for (DWORD bit : {CE_RXOVER, CE_OVERRUN, CE_FRAME, CE_TXFULL, CE_IOE}) {
    p.lineErrors = bit;
    run("wlCommRxCount", "1,n");
    EXPECT_EQ(var("n"), " 0") << bit;
    EXPECT_EQ(var("wlCommErr"), " 57") << bit;
    run("wlCommRxCount", "1,n");
    EXPECT_EQ(var("n"), " 5");
    EXPECT_EQ(var("wlCommErr"), " 0");
  }
  // Break and parity errors do not count.
  p.lineErrors = CE_BREAK | CE_RXPARITY;
  run("wlCommRxCount", "1,n");
  EXPECT_EQ(var("n"), " 5");
  EXPECT_EQ(var("wlCommErr"), " 0");
  // Bytes are kept through a line error: the next byte receive gets them.
  p.lineErrors = CE_FRAME;
  run("wlCommRxByte", "1,b,c");
  EXPECT_EQ(var("wlCommErr"), " 57");
  EXPECT_EQ(var("b"), "<unset>");
  run("wlCommRxByte", "1,b,c");
  EXPECT_EQ(var("b"), "h");
  EXPECT_EQ(var("c"), " 4");
}

TEST_F(DeviceQuery, FlushDrainsEverythingAndStopsAtALineError) {
  FakePort& p = open("COM1", "1");
  fake.arrive("COM1", std::string(300, 'x'));
  run("wlCommRxFlush", "1");
  EXPECT_EQ(var("wlCommErr"), " 0");
  EXPECT_TRUE(p.inQueue.empty());
  fake.arrive("COM1", "abc");
  p.lineErrors = CE_OVERRUN;
  run("wlCommRxFlush", "1");
  EXPECT_EQ(var("wlCommErr"), " 57");
  EXPECT_EQ(p.inQueue, "abc");
  run("wlCommRxCount", "2,n");
  EXPECT_EQ(var("n"), " 0");
  EXPECT_EQ(var("wlCommErr"), " 52");
}

TEST_F(DeviceSend, OneWritePerSendCodesAndAll) {
  FakePort& p = open("COM1", "1");
  run("wlCommSendCRLF", "1,OK");
  run("wlCommSend", "1,\"a, b\"");
  run("wlCommSendSpecial", "1|  \"x,y\"  ");
  run("wlCommSendASCII", "1,13,10,&H41,65.5,66.5");
  EXPECT_EQ(var("wlCommErr"), " 0");
  EXPECT_EQ(p.writes, (std::vector<std::string>{"OK\r\n", "a, b", "  \"x,y\"  ", "\r\nABB"}));
  // A Modbus frame leaves as one write; a bad code sends the codes before it.
  run("wlCommSendASCII", "1,1,3,0,0,0,2,196,11");
  run("wlCommSendASCII", "1,65,66,256,67");
  EXPECT_EQ(var("wlCommErr"), "99");
  run("wlCommSendASCII", "1,-1,65");
  EXPECT_EQ(var("wlCommErr"), "99");
  EXPECT_EQ(p.writes.size(), 6u);  // the code-less one wrote nothing
  EXPECT_EQ(p.writes[4], std::string("\x01\x03\0\0\0\x02\xc4\x0b", 8));
  EXPECT_EQ(p.writes[5], "AB");
}

TEST_F(DeviceSend, RefusedAndShortWritesReport69) {
  FakePort& p = open("COM1", "1");
  fake.failCall("WriteFile", ERROR_GEN_FAILURE);
  run("wlCommSend", "1,abc");
  EXPECT_EQ(var("wlCommErr"), " 69");
  fake.shortWrite(1);
  run("wlCommSendCRLF", "1,abc");
  EXPECT_EQ(var("wlCommErr"), " 69");
  // The codes' one write: failed or short, it reports 69.
  fake.failCall("WriteFile", ERROR_GEN_FAILURE);
  run("wlCommSendASCII", "1,65,66,67");
  EXPECT_EQ(var("wlCommErr"), " 69");
  fake.shortWrite(1);
  run("wlCommSendASCII", "1,65,66,67");
  EXPECT_EQ(var("wlCommErr"), " 69");
  EXPECT_EQ(p.sent, "abc\rAB");
  run("wlCommSend", "1,ok");
  EXPECT_EQ(var("wlCommErr"), " 0");
  // A bad code ends the action with "99"; codes before it were sent.
  run("wlCommSendASCII", "1,68,-1,69");
  EXPECT_EQ(var("wlCommErr"), "99");
  EXPECT_EQ(p.sent, "abc\rABokD");
}

TEST_F(DeviceSend, AWriteTheDeviceCannotTakeEndsWithinSecondsAnd69) {
  FakePort& p = open("COM1", "1");
  run("wlCommSetBaud", "1,115200");
  p.room = 10;
  const DWORD start = fake.now();
  run("wlCommSend", "1," + std::string(100, 'z'));
  EXPECT_EQ(var("wlCommErr"), " 69");
  EXPECT_LE(fake.now() - start, 10000u);  // a few seconds plus the line time
  EXPECT_EQ(p.sent.size(), 10u);
  // Once the device takes bytes again, writes succeed.
  p.room = static_cast<size_t>(-1);
  run("wlCommSend", "1,more");
  EXPECT_EQ(var("wlCommErr"), " 0");
}

TEST_F(DeviceSend, FiniteTimeoutsOfAPortAreKept) {
  FakePort& p = fake.addPort("COM1");
  p.timeouts = COMMTIMEOUTS{50, 1, 100, 2, 300};
  run("wlCommOpenStd", "1,9600");
  fake.arrive("COM1", "ab");
  run("wlCommSend", "1,hello");
  run("wlCommRxS", "1,5,s");
  EXPECT_EQ(var("s"), "ab");
  run("wlCommClose", "1");
  const std::vector<std::string> names = CallNames(fake.callsOn("COM1"));
  EXPECT_EQ(std::count(names.begin(), names.end(), "SetCommTimeouts"), 0);
  EXPECT_EQ(p.timeouts.WriteTotalTimeoutConstant, 300u);
  EXPECT_EQ(p.timeouts.ReadIntervalTimeout, 50u);
}

TEST_F(DeviceReceive, RxSReadsTheLargerCountAndBoundsAQuietLine) {
  FakePort& p = open("COM1", "1");
  fake.arrive("COM1", "0123456789");
  run("wlCommRxS", "1,4,s");
  EXPECT_EQ(var("s"), "0123456789");
  run("wlCommRxS", "1,0,s");
  EXPECT_EQ(var("s"), "");
  // More asked than waiting on a port with all-zero time-outs: what
  // arrives is taken until the line has been quiet about a second.
  fake.arrive("COM1", "ab");
  fake.arrive("COM1", "cd", 400);
  DWORD start = fake.now();
  run("wlCommRxS", "1,10,s");
  EXPECT_EQ(var("s"), "abcd");
  EXPECT_EQ(var("wlCommErr"), " 0");
  EXPECT_GE(fake.now() - start, 1200u);
  EXPECT_LE(fake.now() - start, 3000u);
  // Enough bytes arriving in time end the read at once.
  fake.arrive("COM1", "xyz", 300);
  start = fake.now();
  run("wlCommRxS", "1,3,s");
  EXPECT_EQ(var("s"), "xyz");
  EXPECT_LE(fake.now() - start, 1000u);
  run("wlCommRxS", "1,-1,s");
  EXPECT_EQ(var("s"), "");
  EXPECT_EQ(var("wlCommErr"), " 7");
  EXPECT_TRUE(p.inQueue.empty());
}

TEST_F(DeviceReceive, RxWritesItsFileOnlyWhenItCanAndLeavesTheBytesOtherwise) {
  FakePort& p = open("COM1", "1");
  const std::string dir = wltest::ScratchDir("DeviceRx");
  fake.arrive("COM1", "A\"B");
  fake.failCall("CreateFileA", ERROR_PATH_NOT_FOUND, 1, 1, "file:");
  run("wlCommRx", "1," + dir + "/r.txt,n");
  EXPECT_EQ(var("wlCommErr"), " 76");
  EXPECT_EQ(var("n"), " 0");
  EXPECT_EQ(p.inQueue, "A\"B");
  EXPECT_EQ(fake.openHandles(), 1);  // only the port
  // The file is opened before anything is taken from the port.
  fake.clearLog();
  run("wlCommRx", "1," + dir + "/r.txt,n");
  EXPECT_EQ(var("wlCommErr"), " 0");
  EXPECT_EQ(var("n"), " 3");
  std::vector<std::string> names;
  for (const std::string& e : fake.log()) names.push_back(e.substr(0, e.find(' ', e.find(' ') + 1)));
  const auto opened = std::find(names.begin(), names.end(), "CreateFileA file:" + dir + "/r.txt");
  const auto read = std::find(names.begin(), names.end(), "ReadFile COM1");
  ASSERT_NE(opened, names.end());
  ASSERT_NE(read, names.end());
  EXPECT_LT(opened, read);
  EXPECT_EQ(names.back(), "CloseHandle file:" + dir + "/r.txt");
  EXPECT_EQ(fake.openHandles(), 1);
  // A short write to the file is noticed.
  fake.arrive("COM1", "xy");
  fake.shortWrite(1, 1, "file:");
  run("wlCommRx", "1," + dir + "/r.txt,n");
  EXPECT_EQ(var("wlCommErr"), " 61");
}

TEST_F(DeviceReceive, RxFNoticesShortWritesAndTakesANegativePauseAsNone) {
  FakePort& p = open("COM1", "1");
  const std::string dir = wltest::ScratchDir("DeviceRxF");
  fake.arrive("COM1", "abc");
  fake.shortWrite(1, 1, "file:");
  run("wlCommRxF", "1," + dir + "/f.bin,0");
  EXPECT_EQ(var("wlCommErr"), " 61");
  EXPECT_TRUE(p.inQueue.empty());
  fake.arrive("COM1", "def");
  const DWORD start = fake.now();
  run("wlCommRxF", "1," + dir + "/f.bin,-5");
  EXPECT_EQ(var("wlCommErr"), " 0");
  EXPECT_LE(fake.now() - start, 100u);
  // A file that cannot be opened takes nothing from the port.
  fake.arrive("COM1", "ghi");
  fake.failCall("CreateFileA", ERROR_ACCESS_DENIED, 1, 1, "file:");
  run("wlCommRxF", "1," + dir + "/f.bin,0");
  EXPECT_EQ(var("wlCommErr"), " 70");
  EXPECT_EQ(p.inQueue, "ghi");
  EXPECT_EQ(fake.openHandles(), 1);
}

TEST_F(DeviceReceive, RxFStopsTakingBytesOnceItsFileFails) {
  FakePort& p = open("COM1", "1");
  const std::string dir = wltest::ScratchDir("DeviceRxFFull");
  fake.arrive("COM1", "abc");
  fake.arrive("COM1", "def", 1);  // the next poll finds more
  fake.failCall("WriteFile", ERROR_DISK_FULL, 1, -1, "file:");
  run("wlCommRxF", "1," + dir + "/f.bin,0");
  EXPECT_EQ(var("wlCommErr"), " 61");
  EXPECT_EQ(fake.openHandles(), 1);
  // What came after the failure is left for the next action, not drained
  // into nothing.
  fake.Sleep(5);
  run("wlCommRxS", "1,0,s");
  EXPECT_EQ(var("s"), "def");
  EXPECT_TRUE(p.inQueue.empty());
}

TEST_F(DeviceReceive, RxLineRecordsAPendingLineErrorAndStillCollects) {
  FakePort& p = open("COM1", "1");
  fake.arrive("COM1", "AB\r\nCD\r");
  p.lineErrors = CE_OVERRUN;
  run("wlCommRxLine", "1,l,5");
  EXPECT_EQ(var("l"), "AB");
  EXPECT_EQ(var("wlCommErr"), " 57");
  run("wlCommRxLine", "1,l,5");
  EXPECT_EQ(var("l"), "CD");
  EXPECT_EQ(var("wlCommErr"), " 0");
  EXPECT_EQ(var("wlCommEof"), "<unset>");
  // A quiet port ends after t + 1 polls of 10 ms.
  const DWORD start = fake.now();
  run("wlCommRxLine", "1,l,5");
  EXPECT_EQ(var("wlCommEof"), "1");
  EXPECT_EQ(var("l"), "");
  EXPECT_EQ(fake.now() - start, 60u);
}

// The bounds of a line receive start with its data: an answer that comes
// late within the idle time-out is one line, a CR right after a full
// piece's 65,536th byte still ends that line (no empty line follows), a line
// taken byte by byte never reads the clock, and a device that trickles a
// line faster than the idle time-out but never ends it gets it handed over
// in pieces, each no longer than a piece takes at the port's rate (6,827 ms
// at 115,200 baud) from its first byte.
TEST_F(DeviceReceive, LinePiecesAreBoundedFromTheirFirstByte) {
  open("COM1", "1");
  run("wlCommSetBaud", "1,115200");
  fake.arrive("COM1", "OK\r", 7500);
  run("wlCommRxLine", "1,l,1000");
  EXPECT_EQ(var("l"), "OK");
  EXPECT_EQ(var("wlCommEof"), "<unset>");

  const std::string full(65536, 'x');
  fake.arrive("COM1", full + "\r\nnext\r");
  const long clockReads = fake.clockReads();
  run("wlCommRxLine", "1,l,5");
  EXPECT_TRUE(var("l") == full) << var("l").size() << " bytes";
  EXPECT_LE(fake.clockReads() - clockReads, 1);  // the first byte starts the piece
  run("wlCommRxLine", "1,l,5");
  EXPECT_EQ(var("l"), "next");
  EXPECT_EQ(var("wlCommEof"), "<unset>");

  for (int i = 0; i < 40; ++i) fake.arrive("COM1", std::string(1, 'a' + i % 26), 500 * i);
  std::string pieces[3];
  for (std::string& piece : pieces) {
    run("wlCommRxLine", "1,l,100");
    piece = var("l");
  }
  EXPECT_EQ(pieces[0], "abcdefghijklmno");  // the bytes of 0 to 7,000 ms
  EXPECT_EQ(pieces[1], "pqrstuvwxyzabcd");  // 7,500 to 14,500 ms
  EXPECT_EQ(pieces[2], "efghijklmn");       // the rest, then an idle time-out
  EXPECT_EQ(var("wlCommEof"), "1");
}

TEST_F(DeviceOpen, EachActionMakesItsDeviceCallsInOrder) {
  // Finite time-outs, so that no call is needed to bound a wait.
  FakePort& p = fake.addPort("COM7");
  p.timeouts = COMMTIMEOUTS{MAXDWORD, 0, 0, 0, 1000};
  const std::vector<std::string> state = {"GetCommState", "SetCommState"};
  auto join = [](std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
  };
  const std::vector<std::string> queue = {"GetCommProperties", "SetupComm"};
  const std::vector<std::string> open = {"CreateFileA"};
  const std::vector<std::string> waiting = {"ClearCommError"};
  const std::vector<std::string> read = {"ReadFile"};
  struct Case {
    const char* action;
    const char* parameters;
    std::string arrives;
    std::vector<std::string> steps;
  };
  const Case cases[] = {
      // parity on and its type, stop bits, both queues, rate, data bits last
      {"wlCommOpen", "7,9600,7,1,0,100,200", "",
       join({open, state, state, state, queue, queue, state, state})},
      {"wlCommClose", "7", "", {"CloseHandle"}},
      {"wlCommOpen", "7,9600,8,0,0,100,200", "", join({open, state, state, queue, queue, state, state})},
      {"wlCommSetBaud", "7,4800", "", state},
      {"wlCommSetTxBuffer", "7,100", "", queue},
      {"wlCommXonXoff", "7,1", "", join({state, state})},
      {"wlCommFlowReset", "7", "", state},
      {"wlCommGetBaud", "7,b", "", {"GetCommState"}},
      {"wlCommRxCount", "7,n", "", waiting},
      {"wlCommSend", "7,abc", "", {"WriteFile"}},
      {"wlCommSendASCII", "7,1,2", "", {"WriteFile"}},
      {"wlCommRxByte", "7,b,c", "xy", join({waiting, read})},
      {"wlCommRxS", "7,1,s", "", join({waiting, read})},  // everything waiting: one read
      {"wlCommRxFlush", "7", "ab", join({waiting, read, waiting, read, waiting})},
      {"wlCommRxLine", "7,l,1", "a\r", join({waiting, waiting, read, waiting, read})},
  };
  for (const Case& c : cases) {
    fake.arrive("COM7", c.arrives);
    fake.clearLog();
    run(c.action, c.parameters);
    EXPECT_EQ(Steps(fake.callsOn("COM7")), c.steps) << c.action << " " << c.parameters;
  }
}

TEST_F(DeviceReceive, AReadThatKeepsFailingEndsEveryReceive) {
  open("COM1", "1");
  const std::string dir = wltest::ScratchDir("DeviceFailingRead");
  fake.arrive("COM1", "abc");
  fake.failCall("ReadFile", ERROR_GEN_FAILURE, 1, -1);
  fake.setCallBudget(100000);
  const std::pair<const char*, std::string> actions[] = {
      {"wlCommRxFlush", "1"},          {"wlCommRxLine", "1,l,5"}, {"wlCommRxByte", "1,b,c"},
      {"wlCommRxS", "1,10,s"},         {"wlCommRx", "1," + dir + "/r.txt,n"},
      {"wlCommRxF", "1," + dir + "/f.bin,0"}};
  for (const auto& a : actions) {
    run(a.first, a.second);
    EXPECT_EQ(var("wlCommErr"), " 69") << a.first;
    ASSERT_FALSE(fake.budgetExhausted()) << a.first << " did not end";
  }
}

TEST_F(DeviceOpen, TimeoutCallsThatFailNeitherFailTheOpenNorKeepTheHandle) {
  FakePort& p = fake.addPort("COM8");
  fake.failCall("GetCommTimeouts", ERROR_GEN_FAILURE, 1, -1);
  run("wlCommOpenStd", "8,9600");
  EXPECT_EQ(var("wlOpenCommErr"), " 0");
  EXPECT_EQ(var("wlCommErr"), " 0");
  // Time-outs it could not read count as endless: waits stay bounded.
  fake.arrive("COM8", "ab");
  run("wlCommRxS", "8,5,s");
  EXPECT_EQ(var("s"), "ab");
  p.room = 0;
  run("wlCommSend", "8,abc");
  EXPECT_EQ(var("wlCommErr"), " 69");
  fake.failCall("SetCommTimeouts", ERROR_GEN_FAILURE, 1, -1);
  run("wlCommClose", "8");
  EXPECT_EQ(var("wlCommErr"), " 0");
  EXPECT_EQ(fake.openHandles(), 0);
}

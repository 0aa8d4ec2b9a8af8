// Quillport's own serial behaviour on the recording fake device: the port
// time-outs its open installs and publishes, queue sizes passed unlowered,
// and its line rule with the byte after a CR kept.
#include "serial/engine_host.h"

namespace {

using wltest::CallNames;
using wltest::FakePort;

const char* const kTimeoutVariables[] = {"wlCommRIT", "wlCommRTTM", "wlCommRTTC", "wlCommWTTM",
                                         "wlCommWTTC"};

class Quillport : public wltest::EngineTest {
 protected:
  FakePort& open(const std::string& name, const std::string& port) {
    FakePort& p = fake.addPort(name);
    run("wlCommOpen", port + ",9600,8,0,0,4096,4096");
    EXPECT_EQ(var("wlCommErr"), " 0");
    return p;
  }
};

using QuillportOpen = Quillport;
using QuillportBuffers = Quillport;
using QuillportLine = Quillport;

}  // namespace

TEST_F(QuillportOpen, InstallsTheTimeoutsLastAndPublishesThemInOrder) {
  // At 9600 baud a byte takes 1.04 ms: the write multiplier is 2.
  FakePort& p = open("COM1", "1");
  EXPECT_EQ(p.timeouts.ReadIntervalTimeout, 500u);
  EXPECT_EQ(p.timeouts.ReadTotalTimeoutMultiplier, 10u);
  EXPECT_EQ(p.timeouts.ReadTotalTimeoutConstant, 200u);
  EXPECT_EQ(p.timeouts.WriteTotalTimeoutMultiplier, 2u);
  EXPECT_EQ(p.timeouts.WriteTotalTimeoutConstant, 500u);
  const std::vector<std::string> calls = fake.callsOn("COM1");
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back(), "SetCommTimeouts 500 10 200 2 500");
  EXPECT_EQ(setOrder(), (std::vector<std::string>{"wlOpenCommErr", "wlCommErr", "wlCommRIT",
                                                  "wlCommRTTM", "wlCommRTTC", "wlCommWTTM",
                                                  "wlCommWTTC"}));
  EXPECT_EQ(var("wlCommRIT"), " 500");
  EXPECT_EQ(var("wlCommRTTM"), " 10");
  EXPECT_EQ(var("wlCommRTTC"), " 200");
  EXPECT_EQ(var("wlCommWTTM"), " 2");
  EXPECT_EQ(var("wlCommWTTC"), " 500");
}

TEST_F(QuillportOpen, VariablesComeAlsoAfterAFailedOpenButNotAfterASilentEnd) {
  fake.addPort("COM2");
  run("wlCommOpen", "2abc,9600,8,0,0,4096,4096");
  EXPECT_EQ(var("wlOpenCommErr"), " 53");
  EXPECT_EQ(var("wlCommErr"), " 52");
  for (const char* v : kTimeoutVariables) EXPECT_NE(var(v), "<unset>") << v;
  EXPECT_EQ(var("wlCommRTTC"), " 200");
  // A refused time-out call changes no variable and no error number.
  fake.failCall("SetCommTimeouts", ERROR_INVALID_PARAMETER);
  run("wlCommOpen", "2,9600,8,0,0,4096,4096");
  EXPECT_EQ(var("wlCommErr"), " 0");
  EXPECT_EQ(var("wlCommWTTC"), " 500");
  run("wlCommClose", "2");
  for (const char* p : {"2,9600,8,0,0,4096", "257,9600,8,0,0,4096,4096"}) {
    run("wlCommOpen", p);
    EXPECT_TRUE(nothingSet()) << p;
  }
}

TEST_F(QuillportOpen, OpenStdInstallsAndPublishesNoTimeouts) {
  FakePort& p = fake.addPort("COM3");
  p.timeouts = COMMTIMEOUTS{MAXDWORD, 0, 0, 0, 0};
  run("wlCommOpenStd", "3,9600");
  EXPECT_EQ(var("wlCommErr"), " 0");
  EXPECT_EQ(setOrder(), (std::vector<std::string>{"wlOpenCommErr", "wlCommErr"}));
  EXPECT_EQ(p.timeouts.ReadIntervalTimeout, MAXDWORD);
  EXPECT_EQ(p.timeouts.ReadTotalTimeoutConstant, 0u);
}

TEST_F(QuillportOpen, ReadsAndWritesRunUnderTheInstalledTimeouts) {
  FakePort& p = open("COM1", "1");
  // A read of 5 bytes with nothing coming ends after 200 + 10 x 5 ms.
  DWORD start = fake.now();
  run("wlCommRxS", "1,5,s");
  EXPECT_EQ(var("s"), "");
  EXPECT_EQ(var("wlCommErr"), " 0");
  EXPECT_EQ(fake.now() - start, 250u);
  // A write the device cannot take ends short after 500 + 2n ms: 69.
  p.room = 3;
  start = fake.now();
  run("wlCommSend", "1,abcdefghij");
  EXPECT_EQ(var("wlCommErr"), " 69");
  EXPECT_EQ(fake.now() - start, 520u);
}

// Quillport has no flow-control action: whatever another program left, both
// opens start the port with no flow control and DTR and RTS on.
TEST_F(QuillportOpen, BothOpensStartWithoutInheritedFlowControl) {
  for (const char* action : {"wlCommOpen", "wlCommOpenStd"}) {
    SCOPED_TRACE(action);
    FakePort& p = fake.addPort("COM2");
    p.dcb.fOutxCtsFlow = 1;
    p.dcb.fOutxDsrFlow = 1;
    p.dcb.fOutX = 1;
    p.dcb.fInX = 1;
    p.dcb.fDtrControl = DTR_CONTROL_DISABLE;
    p.dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    p.dcb.fAbortOnError = 1;
    run(action, std::string(action) == "wlCommOpen" ? "2,9600,8,0,0,4096,4096" : "2,9600");
    EXPECT_EQ(var("wlCommErr"), " 0");
    EXPECT_EQ(p.dcb.fOutxCtsFlow | p.dcb.fOutxDsrFlow | p.dcb.fOutX | p.dcb.fInX, 0u);
    EXPECT_EQ(p.dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_EQ(p.dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
    EXPECT_EQ(p.dcb.fAbortOnError, 0u);
    run("wlCommClose", "2");
  }
}

// A write time-out shorter than the line cuts a send: the multiplier covers
// a byte's line time at the port's rate (8.3 ms at 1200 baud), set again
// when the rate changes; a port opened with wlCommOpenStd gets none.
TEST_F(QuillportOpen, TheWriteMultiplierCoversAByteAtThePortsRate) {
  FakePort& p = fake.addPort("COM1");
  run("wlCommOpen", "1,1200,8,0,0,4096,4096");
  EXPECT_EQ(var("wlCommWTTM"), " 9");
  EXPECT_EQ(p.timeouts.WriteTotalTimeoutMultiplier, 9u);
  // 500 bytes take 4.2 s on the line at 1200 baud: the time-out allows 5 s.
  EXPECT_GE(p.timeouts.WriteTotalTimeoutMultiplier * 500 + p.timeouts.WriteTotalTimeoutConstant,
            4167u);
  for (const auto& [rate, multiplier] : {std::pair<const char*, const char*>{"115200", " 1"},
                                         {"19200", " 1"}, {"9600", " 2"}, {"2400", " 5"}}) {
    run("wlCommSetBaud", std::string("1,") + rate);
    EXPECT_EQ(var("wlCommErr"), " 0");
    EXPECT_EQ(var("wlCommWTTM"), multiplier) << rate;
    EXPECT_EQ(" " + std::to_string(p.timeouts.WriteTotalTimeoutMultiplier), multiplier);
  }
  EXPECT_EQ(p.timeouts.ReadTotalTimeoutConstant, 200u);
  // At 1200 baud 500 bytes take 4.2 s on the line: they go out whole.
  run("wlCommSetBaud", "1,1200");
  const std::string text(500, 'x');
  const DWORD start = fake.now();
  run("wlCommSend", "1," + text);
  EXPECT_EQ(var("wlCommErr"), " 0");
  EXPECT_EQ(p.sent.size(), 500u);
  EXPECT_GE(fake.now() - start, 4166u);
  run("wlCommClose", "1");
  FakePort& q = fake.addPort("COM3");
  run("wlCommOpenStd", "3,1200");
  run("wlCommSetBaud", "3,2400");
  EXPECT_EQ(setOrder(), (std::vector<std::string>{"wlCommErr"}));
  EXPECT_EQ(q.timeouts.WriteTotalTimeoutMultiplier, 0u);
}

TEST_F(QuillportBuffers, SizesGoToTheDeviceUnlowered) {
  FakePort& p = open("COM1", "1");
  p.setupComm.clear();
  run("wlCommSetTxBuffer", "1,20000");
  run("wlCommSetRxBuffer", "1,65536");
  EXPECT_EQ(var("wlCommErr"), " 0");
  EXPECT_EQ(p.setupComm, (std::vector<std::pair<DWORD, DWORD>>{{4096, 20000}, {65536, 20000}}));
}

TEST_F(QuillportLine, ACarriageReturnTakesItsLineFeedAlong) {
  FakePort& p = open("COM1", "1");
  fake.arrive("COM1", "abc\r\n");
  run("wlCommRxLine", "1,l,20");
  EXPECT_EQ(var("l"), "abc");
  EXPECT_EQ(var("wlCommEof"), "<unset>");
  EXPECT_TRUE(p.inQueue.empty());
}

TEST_F(QuillportLine, ALineFeedLastEndsTheLineWithoutWaiting) {
  open("COM1", "1");
  fake.arrive("COM1", "abc\n");
  const DWORD start = fake.now();
  run("wlCommRxLine", "1,l,20");
  EXPECT_EQ(var("l"), "abc\n");
  EXPECT_EQ(var("wlCommEof"), "<unset>");
  EXPECT_LT(fake.now() - start, 10u);
}

TEST_F(QuillportLine, TheByteAfterACarriageReturnIsKeptForTheNextRead) {
  open("COM1", "1");
  fake.arrive("COM1", "a\rbc\r\n");
  run("wlCommRxLine", "1,l,20");
  EXPECT_EQ(var("l"), "a");
  run("wlCommRxCount", "1,n");
  EXPECT_EQ(var("n"), " 4");  // the kept byte counts first
  run("wlCommRxLine", "1,l,20");
  EXPECT_EQ(var("l"), "bc");
  EXPECT_EQ(var("wlCommEof"), "<unset>");
  // And the kept byte is what a byte receive takes next.
  fake.arrive("COM1", "x\ryz");
  run("wlCommRxLine", "1,l,20");
  EXPECT_EQ(var("l"), "x");
  run("wlCommRxByte", "1,b,c");
  EXPECT_EQ(var("b"), "y");
  EXPECT_EQ(var("c"), " 1");
}

TEST_F(QuillportLine, ACarriageReturnThenSilenceEndsWithoutTheIdleWait) {
  open("COM1", "1");
  fake.arrive("COM1", "abc\r");
  const DWORD start = fake.now();
  run("wlCommRxLine", "1,l,500");
  EXPECT_EQ(var("l"), "abc");
  EXPECT_EQ(var("wlCommEof"), "<unset>");
  // Only the one-byte read's time-outs (200 + 10 ms) pass, not 5 s.
  EXPECT_LE(fake.now() - start, 1000u);
}

// A line whose end follows its 65,536th byte is one line, whichever end it
// has, and an answer late within the idle time-out is whole.
TEST_F(QuillportLine, TheEndAfterAFullPieceAndALateAnswerKeepTheLineWhole) {
  open("COM1", "1");
  run("wlCommSetBaud", "1,115200");
  const std::string full(65536, 'x');
  fake.arrive("COM1", full + "\r\n");
  run("wlCommRxLine", "1,l,5");
  EXPECT_TRUE(var("l") == full) << var("l").size() << " bytes";
  fake.arrive("COM1", full + "\n");
  run("wlCommRxLine", "1,l,5");
  EXPECT_TRUE(var("l") == full + "\n") << var("l").size() << " bytes";
  run("wlCommRxCount", "1,n");
  EXPECT_EQ(var("n"), " 0");

  fake.arrive("COM1", full + "yz\r\n");
  run("wlCommRxLine", "1,l,5");
  EXPECT_TRUE(var("l") == full) << var("l").size() << " bytes";
  run("wlCommRxLine", "1,l,5");
  EXPECT_EQ(var("l"), "yz");

  fake.arrive("COM1", "OK\r\n", 7500);
  run("wlCommRxLine", "1,l,1000");
  EXPECT_EQ(var("l"), "OK");
  EXPECT_EQ(var("wlCommEof"), "<unset>");
}

TEST_F(QuillportOpen, AHugeCountReadsWhatCameWithoutAHugeBuffer) {
  open("COM1", "1");
  fake.arrive("COM1", "ab");
  run("wlCommRxS", "1,2000000000,s");
  EXPECT_EQ(var("s"), "ab");
  EXPECT_EQ(var("wlCommErr"), " 0");
}

TEST_F(QuillportLine, AReadThatKeepsFailingEndsTheLine) {
  open("COM1", "1");
  fake.arrive("COM1", "abc");
  fake.failCall("ReadFile", ERROR_GEN_FAILURE, 1, -1);
  fake.setCallBudget(100000);
  run("wlCommRxLine", "1,l,5");
  EXPECT_EQ(var("wlCommErr"), " 69");
  EXPECT_EQ(var("l"), "");
  EXPECT_FALSE(fake.budgetExhausted()) << "the line receive did not end";
}

// Every device call a serial action makes, failed in turn: each action is
// first run once as it should go and its calls recorded; then, on a fresh
// device each time, exactly one of those calls fails (once, and from there
// on for ever). Whatever failed, the action must come back, the channel
// table must hold the port exactly when it should, no file handle may stay
// open and no port handle without its channel, the failure must reach
// wlCommErr unless the action can do without that call, and once the
// device recovers the port must work again (or open again).
#include <algorithm>
#include <cstring>
#include <set>
#include <sstream>

#include "engine_host.h"
#include "serial/serial_device.h"
#include "support/paths.h"

namespace {

using wltest::EngineHost;
using wltest::FakeDevice;
using wltest::FakePort;
using wltest::RunAction;

const char kPort[] = "COM3";
constexpr int16_t kPortNumber = 3;

// How the port stands before the action runs.
enum class Start {
  Closed,
  Open,
  OpenAfterWrite,  // a write has installed its time-out, which a close puts back
};

// Where a run of the action leaves the port when nothing fails.
enum class Effect { Opens, Closes, KeepsOpen };

struct SweepCase {
  const char* name;        // the test's name
  const char* action;
  const char* parameters;  // "{file}" stands for a scratch file, "{long}" for 1000 bytes
  Start start;
  Effect effect;
  const char* arrives;     // bytes waiting on the port before the action
  const char* cleanErr;    // wlCommErr when nothing fails
  const char* cleanOpenErr;  // wlOpenCommErr when nothing fails ("" when the action sets none)
  // Calls whose failure the action does without (reported as nothing).
  std::vector<std::string> tolerated;
  bool held = false;  // the device takes no byte (flow control holds the line)
};

// A port whose time-outs cannot be read counts as having endless ones, and
// the close makes do without putting its own back when the device refuses.
const std::vector<std::string> kTimeouts = {"GetCommTimeouts", "SetCommTimeouts"};
// Sends read the port's rate only to size the write bound. Without a bound
// a write is not made (69), unless the device still has one from before.
const std::vector<std::string> kSendTolerates = {"GetCommTimeouts", "GetCommState"};
const std::vector<std::string> kBoundSendTolerates = {"GetCommTimeouts", "GetCommState",
                                                      "SetCommTimeouts"};

const SweepCase kCases[] = {
    {"OpenStd", "wlCommOpenStd", "3,19200", Start::Closed, Effect::Opens, "", " 0", " 0", kTimeouts},
    {"Open", "wlCommOpen", "3,57600,7,1,0,2048,8192", Start::Closed, Effect::Opens, "", " 0", " 0",
     kTimeouts},
    {"OpenStdWhenOpen", "wlCommOpenStd", "3,19200", Start::Open, Effect::KeepsOpen, "", " 55", " 55",
     kTimeouts},
    {"Close", "wlCommClose", "3", Start::Open, Effect::Closes, "", " 0", "", kTimeouts},
    {"CloseAfterWrite", "wlCommClose", "3", Start::OpenAfterWrite, Effect::Closes, "", " 0", "",
     kTimeouts},
    {"SetBaud", "wlCommSetBaud", "3,38400", Start::Open, Effect::KeepsOpen, "", " 0", "", kTimeouts},
    {"SetTxBuffer", "wlCommSetTxBuffer", "3,8192", Start::Open, Effect::KeepsOpen, "", " 0", "",
     kTimeouts},
    {"SetRxBuffer", "wlCommSetRxBuffer", "3,16384", Start::Open, Effect::KeepsOpen, "", " 0", "",
     kTimeouts},
    {"XonXoff", "wlCommXonXoff", "3,1", Start::Open, Effect::KeepsOpen, "", " 0", "", kTimeouts},
    {"CTSflow", "wlCommSetCTSflow", "3,1", Start::Open, Effect::KeepsOpen, "", " 0", "", kTimeouts},
    {"DSRflow", "wlCommSetDSRflow", "3,1", Start::Open, Effect::KeepsOpen, "", " 0", "", kTimeouts},
    {"DTRflow", "wlCommSetDTRflow", "3,1", Start::Open, Effect::KeepsOpen, "", " 0", "", kTimeouts},
    {"RTSflow", "wlCommSetRTSflow", "3,2", Start::Open, Effect::KeepsOpen, "", " 0", "", kTimeouts},
    {"FlowReset", "wlCommFlowReset", "3", Start::Open, Effect::KeepsOpen, "", " 0", "", kTimeouts},
    {"RxCount", "wlCommRxCount", "3,n", Start::Open, Effect::KeepsOpen, "abc", " 0", "", kTimeouts},
    {"GetBaud", "wlCommGetBaud", "3,b", Start::Open, Effect::KeepsOpen, "", " 0", "", kTimeouts},
    {"RxFlush", "wlCommRxFlush", "3", Start::Open, Effect::KeepsOpen, "ab", " 0", "", kTimeouts},
    {"Send", "wlCommSend", "3,hello", Start::Open, Effect::KeepsOpen, "", " 0", "", kSendTolerates},
    {"SendCRLF", "wlCommSendCRLF", "3,hello", Start::Open, Effect::KeepsOpen, "", " 0", "",
     kSendTolerates},
    {"SendASCII", "wlCommSendASCII", "3,65,66,67", Start::Open, Effect::KeepsOpen, "", " 0", "",
     kSendTolerates},
    {"SendSpecial", "wlCommSendSpecial", "3|a,b", Start::Open, Effect::KeepsOpen, "", " 0", "",
     kSendTolerates},
    // A write needing a longer bound than the one an earlier write installed.
    {"SendLongAfterWrite", "wlCommSend", "3,{long}", Start::OpenAfterWrite, Effect::KeepsOpen, "",
     " 0", "", kBoundSendTolerates},
    // A write the device never takes ends at its bound with 69.
    {"SendToAHeldLine", "wlCommSend", "3,hello", Start::Open, Effect::KeepsOpen, "", " 69", "",
     kSendTolerates, true},
    {"RxByte", "wlCommRxByte", "3,b,c", Start::Open, Effect::KeepsOpen, "xy", " 0", "", kTimeouts},
    {"RxS", "wlCommRxS", "3,2,s", Start::Open, Effect::KeepsOpen, "ab", " 0", "", kTimeouts},
    {"Rx", "wlCommRx", "3,{file},n", Start::Open, Effect::KeepsOpen, "abc", " 0", "", kTimeouts},
    {"RxF", "wlCommRxF", "3,{file},0", Start::Open, Effect::KeepsOpen, "abc", " 0", "", kTimeouts},
    {"RxLine", "wlCommRxLine", "3,l,5", Start::Open, Effect::KeepsOpen, "AB\r", " 0", "", kTimeouts},
};

void PrintTo(const SweepCase& c, std::ostream* out) { *out << c.name; }

// One entry of the fake's log taken apart.
struct Call {
  std::string name, target;
  int nth;  // which call of this name on this target (from 1)
  bool onPort() const { return target == kPort; }
};

std::vector<Call> Calls(const std::vector<std::string>& log) {
  std::vector<Call> out;
  std::map<std::string, int> seen;
  for (const std::string& entry : log) {
    std::istringstream in(entry);
    Call c;
    in >> c.name >> c.target;
    c.nth = ++seen[c.name + " " + c.target];
    out.push_back(c);
  }
  return out;
}

// The calls the fake can fail. It plays no failures of GetFileType, nor of
// reads from real files (the actions write their files and never read them).
bool Injectable(const Call& c) {
  static const std::set<std::string> port = {
      "CreateFileA",  "CloseHandle",       "ReadFile",  "WriteFile",      "GetCommState",
      "SetCommState", "GetCommProperties", "SetupComm", "ClearCommError", "GetCommTimeouts",
      "SetCommTimeouts"};
  static const std::set<std::string> file = {"CreateFileA", "WriteFile", "CloseHandle"};
  return (c.onPort() ? port : file).count(c.name) > 0;
}

// Windows errors the sweep injects, with the numbers Wirelet reports for them.
// The first two are also codes a removed device gives.
const std::pair<DWORD, const char*> kErrors[] = {
    {ERROR_ACCESS_DENIED, " 70"}, {ERROR_GEN_FAILURE, " 72"}, {ERROR_INVALID_HANDLE, " 51"}};

bool RemovalCode(DWORD error) { return error == ERROR_ACCESS_DENIED || error == ERROR_GEN_FAILURE; }

// Whether the injected failure tells the engine the device is gone: the
// harmless query itself fails for good with a removal code (a second query
// confirms it), or an open finds the port it is asked for already open and
// its handle failing that query (one failure is enough there: the stale
// handle is closed and the port opened anew).
bool FoundGone(const SweepCase& c, const Call& call, DWORD error, int times) {
  if (!call.onPort() || call.name != "ClearCommError" || !RemovalCode(error)) return false;
  return times < 0 || (c.start == Start::Open && c.effect == Effect::KeepsOpen &&
                       std::string(c.cleanOpenErr) == " 55");
}

// What wlCommErr may read after `call` failed with the error reported as `own`.
std::set<std::string> Reports(const Call& call, const std::string& own) {
  if (call.onPort()) {
    // A failed transfer, or a write that could not be bounded.
    if (call.name == "ReadFile" || call.name == "WriteFile" || call.name == "SetCommTimeouts") {
      return {" 69"};
    }
    if (call.name == "SetCommState" || call.name == "SetupComm") return {" 5"};  // refused setting
    // The settings after a failed open find no port.
    if (call.name == "CreateFileA") return {" 52"};
    // A bytes-waiting query reports its own number; under a read it fails the read.
    if (call.name == "ClearCommError") return {own, " 69"};
  }
  return {own};
}

std::string Substitute(std::string text, const std::string& file) {
  size_t at = text.find("{file}");
  if (at != std::string::npos) text.replace(at, 6, file);
  at = text.find("{long}");
  if (at != std::string::npos) text.replace(at, 6, std::string(1000, 'L'));
  return text;
}

bool SameTimeouts(const COMMTIMEOUTS& a, const COMMTIMEOUTS& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

std::string Describe(const std::vector<std::string>& log) {
  std::string out;
  for (size_t k = 0; k < log.size(); ++k) out += "\n  " + std::to_string(k) + ": " + log[k];
  return out;
}

class FailureSweep : public ::testing::TestWithParam<SweepCase> {
 protected:
  void SetUp() override {
    wl::SetHostLink(nullptr, reinterpret_cast<const void*>(&EngineHost::SetVariable));
    file_ = wltest::ScratchDir("FailureSweep") + "/" + GetParam().name + ".txt";
  }
  void TearDown() override { wl::SetHostLink(nullptr, nullptr); }

  bool run(const std::string& action, const std::string& parameters) {
    EngineHost::variables().clear();
    EngineHost::order().clear();
    return RunAction(action, parameters);
  }
  static std::string var(const std::string& name) {
    auto it = EngineHost::variables().find(name);
    return it == EngineHost::variables().end() ? "<unset>" : it->second;
  }

  // Installs `fake` with port 3 as the case starts; false when that failed.
  bool prepare(FakeDevice& fake) {
    fake.setCallBudget(200000);
    wl::UseSystem(&fake);
    fake.addPort(kPort);
    const SweepCase& c = GetParam();
    if (c.start != Start::Closed) {
      run("wlCommOpenStd", "3,9600");
      if (var("wlCommErr") != " 0") return false;
    }
    if (c.start == Start::OpenAfterWrite) {
      run("wlCommSend", "3,x");
      if (var("wlCommErr") != " 0") return false;
    }
    fake.arrive(kPort, c.arrives);
    if (c.held) fake.port(kPort).room = 0;
    fake.clearLog();
    return true;
  }

  // Takes out whatever a failed check left in the table, so the next run
  // starts from an empty one.
  void release(FakeDevice& fake) {
    fake.clearFailures();
    if (wl::Channels().find(kPortNumber) != nullptr) RunAction("wlCommClose", "3");
    for (int16_t n : {kPortNumber, wl::kCommRxFileChannel, wl::kCommRxFFileChannel}) {
      wl::Channels().remove(n);
    }
    wl::UseSystem(nullptr);
  }

  // The table and the handles as they must be: the port's channel and one
  // port handle exactly when the port is open, nothing else.
  void expectTable(const FakeDevice& fake, bool portOpen) {
    const wl::Channel* channel = wl::Channels().find(kPortNumber);
    if (portOpen) {
      ASSERT_NE(channel, nullptr) << "the port's channel is gone";
      EXPECT_EQ(channel->channelKind, wl::ChannelKind::SerialPort);
      EXPECT_EQ(channel->deviceName, kPort);
      EXPECT_EQ(fake.openPortHandles(), 1);
    } else {
      EXPECT_EQ(channel, nullptr) << "a channel is left for a port that is not open";
      EXPECT_EQ(fake.openPortHandles(), 0) << "a port handle is left without its channel";
    }
    EXPECT_EQ(wl::Channels().size(), portOpen ? 1u : 0u) << "stray channels in the table";
    EXPECT_EQ(fake.openHandles() - fake.openPortHandles(), 0) << "a file handle is left open";
  }

  void expectBounded(const FakeDevice& fake) {
    EXPECT_TRUE(fake.foreverWaits().empty()) << fake.foreverWaits().front();
    EXPECT_TRUE(fake.unguardedCalls().empty()) << fake.unguardedCalls().front();
    EXPECT_FALSE(fake.budgetExhausted()) << "the action did not end";
  }

  // A fresh device for one run, taken out again however the run ends.
  struct Session {
    FailureSweep& test;
    FakeDevice fake;
    explicit Session(FailureSweep& t) : test(t) {}
    ~Session() { test.release(fake); }
  };

  std::string file_;
};

TEST_P(FailureSweep, EveryFailedCallLeavesTheTableAndHandlesRight) {
  const SweepCase& c = GetParam();
  const std::string parameters = Substitute(c.parameters, file_);

  // The run without failures, whose calls the sweep fails one at a time.
  std::vector<std::string> baseline;
  {
    Session session(*this);
    FakeDevice& fake = session.fake;
    ASSERT_TRUE(prepare(fake));
    ASSERT_TRUE(run(c.action, parameters));
    baseline = fake.log();
    EXPECT_EQ(var("wlCommErr"), c.cleanErr);
    if (*c.cleanOpenErr) {
      EXPECT_EQ(var("wlOpenCommErr"), c.cleanOpenErr);
    }
    expectBounded(fake);
    expectTable(fake, c.effect != Effect::Closes);
  }
  ASSERT_FALSE(baseline.empty()) << c.action << " made no device call";
  const std::string shown = parameters.size() > 60 ? parameters.substr(0, 60) + "..." : parameters;
  SCOPED_TRACE(std::string(c.action) + " \"" + shown + "\", calls without failures:" +
               Describe(baseline));

  const std::vector<Call> calls = Calls(baseline);
  int cases = 0;
  for (size_t k = 0; k < calls.size(); ++k) {
    const Call& call = calls[k];
    if (!Injectable(call)) continue;
    for (const int times : {1, -1}) {
      const auto& error = kErrors[(k + (times < 0 ? 1 : 0)) % 3];
      SCOPED_TRACE("call " + std::to_string(k) + ": " + call.name + " " + call.target + " (its " +
                   std::to_string(call.nth) + ". on that target) fails " +
                   (times == 1 ? "once" : "for ever") + " with " + std::to_string(error.first));
      ++cases;
      Session session(*this);
      FakeDevice& fake = session.fake;
      ASSERT_TRUE(prepare(fake));
      FakePort& port = fake.port(kPort);
      fake.failCall(call.name, error.first, call.nth, times, call.target);
      ASSERT_TRUE(run(c.action, parameters));
      expectBounded(fake);
      EXPECT_GE(fake.failuresInjected(), 1) << "the injected failure never happened";
      // Up to the failed call the action went as before.
      ASSERT_GT(fake.log().size(), k);
      EXPECT_TRUE(std::equal(baseline.begin(), baseline.begin() + k + 1, fake.log().begin()))
          << "calls with the failure:" << Describe(fake.log());

      // A port that could not be opened has no channel; any other failure of
      // an open leaves the port open, and a close always frees it.
      const bool portRefused = call.onPort() && call.name == "CreateFileA";
      const bool portOpen = c.effect == Effect::KeepsOpen || (c.effect == Effect::Opens && !portRefused);
      expectTable(fake, portOpen);

      const bool gone = FoundGone(c, call, error.first, times);
      const bool reopened = gone && std::string(c.cleanOpenErr) == " 55";
      const bool tolerated =
          std::find(c.tolerated.begin(), c.tolerated.end(), call.name) != c.tolerated.end();
      if (reopened) {
        EXPECT_EQ(var("wlOpenCommErr"), " 0") << "the stale handle was not replaced";
        EXPECT_EQ(var("wlCommErr"), " 0");
      } else if (gone) {
        EXPECT_EQ(var("wlCommErr"), " 71") << "a device found gone is not reported as gone";
      } else if (tolerated) {
        EXPECT_EQ(var("wlCommErr"), c.cleanErr) << "a failure the action can do without was reported";
      } else {
        const std::set<std::string> allowed = Reports(call, error.second);
        EXPECT_TRUE(allowed.count(var("wlCommErr")) > 0)
            << "the failure went unreported or misreported: wlCommErr is " << var("wlCommErr");
      }
      if (*c.cleanOpenErr && !reopened) {
        EXPECT_EQ(var("wlOpenCommErr"), portRefused ? error.second : c.cleanOpenErr);
      }
      // A file that could not be opened takes nothing from the port.
      if (!call.onPort() && call.name == "CreateFileA") {
        EXPECT_EQ(port.inQueue, c.arrives);
      }

      // The device recovers. After a single failure the open port still
      // sends; after one for ever it is closed at once. Either way the close
      // gives the device its own time-outs back (unless the failure was the
      // close's own putting back), and the port opens and works again.
      fake.clearFailures();
      port.room = static_cast<size_t>(-1);
      // A gone device's handle is only closed: its time-outs are not put back.
      const bool restorable =
          !(c.effect == Effect::Closes && call.name == "SetCommTimeouts") && !(gone && !reopened);
      auto sendsAndCloses = [&](bool send, const char* when) {
        SCOPED_TRACE(when);
        if (send) {
          const size_t before = port.sent.size();
          run("wlCommSend", "3,ok");
          EXPECT_EQ(var("wlCommErr"), " 0") << "the port no longer sends";
          EXPECT_EQ(port.sent.substr(before), "ok");
        }
        run("wlCommClose", "3");
        EXPECT_EQ(var("wlCommErr"), " 0");
        expectTable(fake, false);
        if (restorable) {
          EXPECT_TRUE(SameTimeouts(port.timeouts, COMMTIMEOUTS{}))
              << "the port's own time-outs were not put back: write constant "
              << port.timeouts.WriteTotalTimeoutConstant;
        }
      };
      if (portOpen) sendsAndCloses(times == 1, "after the failure");
      run("wlCommOpenStd", "3,9600");
      EXPECT_EQ(var("wlOpenCommErr"), " 0") << "the port does not open again";
      EXPECT_EQ(var("wlCommErr"), " 0");
      expectTable(fake, true);
      sendsAndCloses(true, "opened again");
      expectBounded(fake);
      if (HasFatalFailure()) return;
    }
  }
  EXPECT_GT(cases, 0) << c.action << " made no call the sweep could fail";
  RecordProperty("cases", cases);
}

INSTANTIATE_TEST_SUITE_P(SerialActions, FailureSweep, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<SweepCase>& info) {
                           return std::string(info.param.name);
                         });

// Time-outs the device refused to install (Quillport's open installs some)
// are not taken for the port's: its endless ones still get bounded waits.
using RefusedTimeouts = wltest::EngineTest;

TEST_F(RefusedTimeouts, LeaveReadsAndWritesBounded) {
  FakePort& p = fake.addPort(kPort);
  run("wlCommOpenStd", "3,9600");
  ASSERT_EQ(var("wlCommErr"), " 0");
  fake.failCall("SetCommTimeouts", ERROR_INVALID_PARAMETER);
  wl::serialInstallTimeouts(kPortNumber, wl::PortTimeouts{500, 10, 200, 1, 500});
  ASSERT_EQ(fake.failuresInjected(), 1);
  EXPECT_TRUE(SameTimeouts(p.timeouts, COMMTIMEOUTS{}));
  fake.arrive(kPort, "ab");
  run("wlCommRxS", "3,5,s");
  EXPECT_EQ(var("s"), "ab");
  EXPECT_TRUE(fake.foreverWaits().empty()) << fake.foreverWaits().front();
  p.room = 0;
  run("wlCommSend", "3,abc");
  EXPECT_EQ(var("wlCommErr"), " 69");
  EXPECT_TRUE(fake.foreverWaits().empty()) << fake.foreverWaits().front();
}

// Every serial action of the catalogue is in the sweep.
TEST(FailureSweepCoverage, EverySerialActionIsSwept) {
  std::set<std::string> swept;
  for (const SweepCase& c : kCases) swept.insert(c.action);
  for (const wl::CatalogueEntry& e : wl::ThisEdition()) {
    if (e.handler == nullptr) continue;
    const std::string name = e.name;
    if (name.rfind("wlComm", 0) == 0) {
      EXPECT_EQ(swept.count(name), 1u) << name << " is not swept";
    }
  }
}

}  // namespace

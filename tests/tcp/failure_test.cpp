// Every system call a TCP action makes, failed in turn: each action is first
// run once against a peer on 127.0.0.1 as it should go and its calls
// recorded; then, with a fresh peer each time, exactly one of those calls
// fails (once, and from there on for ever). Whatever failed, the action must
// come back within its bound, wlTcpErr must carry the failure (unless the
// action can do without that call), a failed open must leave no connection,
// no socket and the network stack's starts matched by cleanups, no file may
// stay open, and once the system recovers a close and a fresh open work.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <set>

#include "../serial/engine_host.h"
#include "scripted_peer.h"
#include "support/passthrough_system.h"
#include "support/paths.h"

namespace {

using tcptest::ScriptedPeer;
using wltest::EngineHost;
using wltest::RunAction;

constexpr int kDeadlineMs = 5000;  // the bound of every wait of a peer
constexpr int kActionBoundMs = 4000;  // an action waits at most ~1 s per select
const char kLines[] = "alpha\r\nbeta\r\n";

// The real system, with counts of what the engine holds and the nth call of
// one name made to fail (once, or from there on for ever).
class FailingSystem : public wltest::PassThroughSystem {
 public:
  int openSockets = 0;  // socket() minus closesocket()
  int startups = 0;     // successful WSAStartup() minus WSACleanup()
  int openFiles = 0;    // CreateFileA() minus CloseHandle()
  int injected = 0;
  std::vector<std::string> log;

  void failCall(const std::string& name, int nth, int times, int code) {
    failName_ = name, failNth_ = nth, failTimes_ = times, failCode_ = code;
  }
  void clearFailures() { failName_.clear(); }
  // Starts the record (and the count of each name) afresh.
  void startLog() {
    log.clear();
    seen_.clear();
  }

  int WSAStartup(WORD version, WSADATA* data) override {
    if (fails("WSAStartup")) return failCode_;
    const int result = PassThroughSystem::WSAStartup(version, data);
    if (result == 0) ++startups;
    return result;
  }
  int WSACleanup() override {
    --startups;
    return fails("WSACleanup") ? SOCKET_ERROR : PassThroughSystem::WSACleanup();
  }
  int WSAGetLastError() override {
    return socketError_ ? socketError_ : PassThroughSystem::WSAGetLastError();
  }
  hostent* gethostbyname(const char* name) override {
    return fails("gethostbyname") ? nullptr : PassThroughSystem::gethostbyname(name);
  }
  servent* getservbyname(const char* name, const char* protocol) override {
    return fails("getservbyname") ? nullptr : PassThroughSystem::getservbyname(name, protocol);
  }
  int gethostname(char* name, int length) override {
    return fails("gethostname") ? SOCKET_ERROR : PassThroughSystem::gethostname(name, length);
  }
  SOCKET socket(int family, int type, int protocol) override {
    if (fails("socket")) return INVALID_SOCKET;
    const SOCKET s = PassThroughSystem::socket(family, type, protocol);
    if (s != INVALID_SOCKET) ++openSockets;
    return s;
  }
  int setsockopt(SOCKET s, int level, int option, const char* value, int length) override {
    return fails("setsockopt") ? SOCKET_ERROR
                               : PassThroughSystem::setsockopt(s, level, option, value, length);
  }
  int getsockopt(SOCKET s, int level, int option, char* value, int* length) override {
    return fails("getsockopt") ? SOCKET_ERROR
                               : PassThroughSystem::getsockopt(s, level, option, value, length);
  }
  int connect(SOCKET s, const sockaddr* address, int length) override {
    return fails("connect") ? SOCKET_ERROR : PassThroughSystem::connect(s, address, length);
  }
  int ioctlsocket(SOCKET s, long command, u_long* argument) override {
    return fails("ioctlsocket") ? SOCKET_ERROR
                                : PassThroughSystem::ioctlsocket(s, command, argument);
  }
  int select(int n, fd_set* readable, fd_set* writable, fd_set* failed, timeval* time) override {
    return fails("select") ? SOCKET_ERROR
                           : PassThroughSystem::select(n, readable, writable, failed, time);
  }
  int send(SOCKET s, const char* buffer, int length, int flags) override {
    return fails("send") ? SOCKET_ERROR : PassThroughSystem::send(s, buffer, length, flags);
  }
  int recv(SOCKET s, char* buffer, int length, int flags) override {
    return fails("recv") ? SOCKET_ERROR : PassThroughSystem::recv(s, buffer, length, flags);
  }
  // A close that reports failure still gives the socket back, so that no
  // real connection outlives the case.
  int closesocket(SOCKET s) override {
    --openSockets;
    const bool failed = fails("closesocket");
    const int result = PassThroughSystem::closesocket(s);
    return failed ? SOCKET_ERROR : result;
  }
  HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, DWORD creation, DWORD attributes) override {
    if (fails("CreateFileA")) return INVALID_HANDLE_VALUE;
    HANDLE h = PassThroughSystem::CreateFileA(name, access, share, creation, attributes);
    if (h != INVALID_HANDLE_VALUE) ++openFiles;
    return h;
  }
  BOOL WriteFile(HANDLE handle, const void* buffer, DWORD count, DWORD* written) override {
    if (!fails("WriteFile")) return PassThroughSystem::WriteFile(handle, buffer, count, written);
    if (written != nullptr) *written = 0;
    return FALSE;
  }
  // Like closesocket: the handle is released even when failure is reported.
  BOOL CloseHandle(HANDLE handle) override {
    --openFiles;
    const bool failed = fails("CloseHandle");
    const BOOL result = PassThroughSystem::CloseHandle(handle);
    if (failed) PassThroughSystem::SetLastError(static_cast<DWORD>(failCode_));
    return failed ? FALSE : result;
  }

 private:
  // Logs the call; true (with its error set) when it is to fail.
  bool fails(const std::string& name) {
    log.push_back(name);
    socketError_ = 0;
    const int nth = ++seen_[name];
    if (name != failName_ || nth < failNth_ || (failTimes_ > 0 && nth >= failNth_ + failTimes_)) {
      return false;
    }
    ++injected;
    socketError_ = failCode_;
    PassThroughSystem::SetLastError(static_cast<DWORD>(failCode_));
    return true;
  }

  std::map<std::string, int> seen_;
  std::string failName_;
  int failNth_ = 0, failTimes_ = 0, failCode_ = 0;
  int socketError_ = 0;
};

enum class Effect { Opens, Closes, KeepsOpen };

struct SweepCase {
  const char* name;
  const char* action;
  const char* parameters;  // "{peer}" is the peer's open text, "{file}" a scratch file
  Effect effect;
  const char* arrives;  // what the peer sends before the action
  const char* sent;     // what the peer must receive when nothing fails
  const char* value;    // "v" (or the file) when nothing fails; nullptr: not checked
  bool toFile;
};

const SweepCase kCases[] = {
    {"Open", "wlTCPopen", "{peer}", Effect::Opens, "", "", nullptr, false},
    {"Close", "wlTCPclose", "", Effect::Closes, "", "", nullptr, false},
    {"Send", "wlTCPsend", "hello", Effect::KeepsOpen, "", "hello", nullptr, false},
    {"SendCRLF", "wlTCPsendCRLF", "hello", Effect::KeepsOpen, "", "hello\r\n", nullptr, false},
    {"RxByte", "wlTCPrxbyte", "v", Effect::KeepsOpen, kLines, "", "a", false},
    {"RxLine", "wlTCPrxline", "v", Effect::KeepsOpen, kLines, "", "alpha", false},
    {"RxF", "wlTCPrxF", "{file}", Effect::KeepsOpen, kLines, "", kLines, true},
    {"RxFT", "wlTCPrxFT", "{file}", Effect::KeepsOpen, kLines, "", "alpha\r\n", true},
    {"RxFlush", "wlTCPrxFlush", "", Effect::KeepsOpen, kLines, "", nullptr, false},
};

void PrintTo(const SweepCase& c, std::ostream* out) { *out << c.name; }

const int kSocketErrors[] = {WSAECONNRESET, WSAENETDOWN, WSAEINPROGRESS};
const DWORD kFileErrors[] = {ERROR_ACCESS_DENIED, ERROR_GEN_FAILURE};

bool IsFileCall(const std::string& name) {
  return name == "CreateFileA" || name == "WriteFile" || name == "CloseHandle";
}

// What wlTcpErr must read after `name` failed with `code`.
std::string Reported(const SweepCase& c, const std::string& name, int code) {
  if (c.effect == Effect::Closes) return " 0";  // a close makes do without both its calls
  if (name == "WSAStartup") return " 68";
  if (IsFileCall(name)) {
    return code == ERROR_ACCESS_DENIED ? " 70" : " 72";
  }
  return code == WSAEINPROGRESS ? " 70" : " 57";
}

std::string Describe(const std::vector<std::string>& log) {
  std::string out;
  for (size_t k = 0; k < log.size(); ++k) out += "\n  " + std::to_string(k) + ": " + log[k];
  return out;
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class TcpFailureSweep : public ::testing::TestWithParam<SweepCase> {
 protected:
  void SetUp() override {
    wl::SetHostLink(nullptr, reinterpret_cast<const void*>(&EngineHost::SetVariable));
    file_ = wltest::ScratchDir("TcpFailureSweep") + "/" + GetParam().name + ".txt";
  }
  void TearDown() override { wl::SetHostLink(nullptr, nullptr); }

  static std::string run(const std::string& action, const std::string& parameters) {
    EngineHost::variables().clear();
    EXPECT_TRUE(RunAction(action, parameters)) << action;
    return var("wlTcpErr");
  }
  static std::string var(const std::string& name) {
    auto it = EngineHost::variables().find(name);
    return it == EngineHost::variables().end() ? "<unset>" : it->second;
  }

  // The system installed for one run, and everything taken out again
  // however the run ends.
  struct Session {
    FailingSystem sys;
    Session() { wl::UseSystem(&sys); }
    ~Session() {
      sys.clearFailures();
      if (wl::Channels().find(wl::kTcpChannel) != nullptr) RunAction("wlTCPclose", "");
      wl::Channels().remove(wl::kTcpChannel);
      wl::Channels().remove(wl::kTcpFileChannel);
      wl::UseSystem(nullptr);
    }
  };

  // One run of the case's action, with `fail` armed once the connection is
  // in its starting state; returns the calls the action made.
  std::vector<std::string> sweepRun(const std::function<void(FailingSystem&)>& fail,
                                    bool clean) {
    const SweepCase& c = GetParam();
    Session session;
    FailingSystem& sys = session.sys;
    DeleteFileA(file_.c_str());
    auto got = std::make_shared<std::string>();
    const std::string arrives = c.arrives, sent = c.sent;
    std::vector<std::string> calls;
    {
      ScriptedPeer peer([=](ScriptedPeer& p) {
        if (!arrives.empty()) p.send(arrives);
        p.signal();
        *got = p.receive(sent.size(), kDeadlineMs);
        p.clientClosed(kDeadlineMs);
      });
      if (c.effect != Effect::Opens) {
        const std::string opened = run("wlTCPopen", peer.openText(1024));
        const bool taken = opened == " 0" && peer.awaitSignal(kDeadlineMs);
        EXPECT_TRUE(taken) << "no connection to start from: wlTcpErr " << opened;
        if (!taken) return {};
      }
      sys.startLog();
      fail(sys);
      std::string parameters = c.parameters;
      if (parameters == "{peer}") parameters = peer.openText(1024);
      if (parameters == "{file}") parameters = file_;
      const auto start = std::chrono::steady_clock::now();
      const std::string err = run(c.action, parameters);
      const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - start).count();
      calls = sys.log;
      EXPECT_LT(ms, kActionBoundMs) << "the action took too long";
      if (!clean) {
        EXPECT_GE(sys.injected, 1) << "the injected failure never happened";
      }

      const bool connected = wl::Channels().find(wl::kTcpChannel) != nullptr;
      const bool open = c.effect == Effect::KeepsOpen || (c.effect == Effect::Opens && clean);
      EXPECT_EQ(connected, open) << "the connection is in the table when it should not be, or lost";
      EXPECT_EQ(sys.openSockets, open ? 1 : 0) << "sockets left open";
      EXPECT_EQ(sys.startups, open ? 1 : 0) << "network stack starts and cleanups unbalanced";
      EXPECT_EQ(sys.openFiles, 0) << "a file handle is left open";
      EXPECT_EQ(wl::Channels().find(wl::kTcpFileChannel), nullptr) << "the file's channel is left";
      if (clean) {
        EXPECT_EQ(err, " 0");
        if (c.value != nullptr) {
          EXPECT_EQ(c.toFile ? Slurp(file_) : var("v"), c.value);
        }
      } else {
        errs_.push_back(err);
      }

      // The system recovers: the close must leave nothing behind.
      sys.clearFailures();
      EXPECT_EQ(run("wlTCPclose", ""), " 0");
      EXPECT_EQ(wl::Channels().find(wl::kTcpChannel), nullptr);
      EXPECT_EQ(sys.openSockets, 0) << "sockets left open after the close";
      EXPECT_EQ(sys.startups, 0) << "network stack still started after the close";
      EXPECT_TRUE(!open || peer.finished(kDeadlineMs)) << "the peer never saw the close";
    }
    if (clean) {
      EXPECT_EQ(*got, sent) << "the peer received other bytes";
    }

    // And a fresh connection works end to end.
    auto heard = std::make_shared<std::string>();
    ScriptedPeer again([heard](ScriptedPeer& p) {
      *heard = p.receive(4, kDeadlineMs);
      if (*heard == "ok\r\n") p.send("pong\r\n");
      p.clientClosed(kDeadlineMs);
    });
    EXPECT_EQ(run("wlTCPopen", again.openText(1024)), " 0") << "no fresh open after the failure";
    EXPECT_EQ(run("wlTCPsendCRLF", "ok"), " 0");
    EXPECT_EQ(run("wlTCPrxline", "v"), " 0");
    EXPECT_EQ(var("v"), "pong");
    EXPECT_EQ(run("wlTCPclose", ""), " 0");
    EXPECT_TRUE(again.finished(kDeadlineMs));
    EXPECT_EQ(*heard, "ok\r\n");
    EXPECT_EQ(sys.openSockets, 0);
    EXPECT_EQ(sys.startups, 0);
    EXPECT_EQ(sys.openFiles, 0);
    return calls;
  }

  std::string file_;
  std::vector<std::string> errs_;
};

TEST_P(TcpFailureSweep, EveryFailedCallIsReportedAndLeavesNothingBehind) {
  const SweepCase& c = GetParam();
  const std::vector<std::string> baseline = sweepRun([](FailingSystem&) {}, true);
  ASSERT_FALSE(HasFailure()) << "the run without failures went wrong";
  ASSERT_FALSE(baseline.empty()) << c.action << " made no system call";
  SCOPED_TRACE(std::string(c.action) + ", calls without failures:" + Describe(baseline));

  std::map<std::string, int> seen;
  int cases = 0;
  for (size_t k = 0; k < baseline.size(); ++k) {
    const std::string& name = baseline[k];
    const int nth = ++seen[name];
    for (const int times : {1, -1}) {
      const int code = IsFileCall(name) ? static_cast<int>(kFileErrors[(k + (times < 0)) % 2])
                                        : kSocketErrors[(k + (times < 0)) % 3];
      SCOPED_TRACE(std::string(c.name) + " call " + std::to_string(k) + ": " + name + " (its " +
                   std::to_string(nth) + ".) fails " + (times == 1 ? "once" : "for ever") +
                   " with " + std::to_string(code));
      ++cases;
      errs_.clear();
      const std::vector<std::string> calls = sweepRun(
          [&](FailingSystem& sys) { sys.failCall(name, nth, times, code); }, false);
      // Up to the failed call the action went as before.
      ASSERT_GT(calls.size(), k) << "calls with the failure:" << Describe(calls);
      EXPECT_TRUE(std::equal(baseline.begin(), baseline.begin() + k + 1, calls.begin()))
          << "calls with the failure:" << Describe(calls);
      ASSERT_EQ(errs_.size(), 1u);
      EXPECT_EQ(errs_[0], Reported(c, name, code)) << "the failure went unreported or misreported";
      if (HasFatalFailure()) return;
    }
  }
  RecordProperty("cases", cases);
  std::printf("%s: %d failure cases\n", c.name, cases);
}

INSTANTIATE_TEST_SUITE_P(TcpActions, TcpFailureSweep, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<SweepCase>& info) {
                           return std::string(info.param.name);
                         });

// Every TCP action of the catalogue is in the sweep.
TEST(TcpFailureSweepCoverage, EveryTcpActionIsSwept) {
  std::set<std::string> swept;
  for (const SweepCase& c : kCases) swept.insert(c.action);
  int found = 0;
  for (const wl::CatalogueEntry& e : wl::ThisEdition()) {
    if (e.handler == nullptr) continue;
    const std::string name = e.name;
    if (name.rfind("wlTCP", 0) == 0) {
      ++found;
      EXPECT_EQ(swept.count(name), 1u) << name << " is not swept";
    }
  }
  EXPECT_EQ(found, 9);
}

}  // namespace

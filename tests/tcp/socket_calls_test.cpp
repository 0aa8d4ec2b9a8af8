// The socket calls behind the actions, seen through a recording device: the
// network stack's start and cleanup, the calls, options and address of an
// open and how its connect ends, the select time-outs, and failed file
// writes. Connections go to peers on 127.0.0.1; a connect the device refuses
// never leaves the process.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <vector>

#include "plugin/bridge.h"
#include "scripted_peer.h"
#include "support/passthrough_system.h"
#include "support/paths.h"
#include "tcp/tcp_actions.h"

namespace {

using tcptest::ScriptedPeer;

std::map<std::string, std::string> variables;

int32_t __stdcall SetVariable(const char* name, const char* value) {
  variables[name ? name : ""] = value ? value : "";
  return 1;
}

class RecordingSockets : public wltest::PassThroughSystem {
 public:
  int startups = 0;
  int cleanups = 0;
  WORD requested = 0;
  WORD grantedVersion = 0;  // 0: as the stack says
  int socketError = 0;      // 0: as the stack says
  bool refuseConnect = false;
  bool readsTimeOut = false;
  bool shortWrites = false;
  sockaddr_in connectedTo = {};
  int connectLength = 0;
  std::vector<int> options;  // level, option, value
  struct Wait {
    bool forWriting, forFailure, limited;
    timeval time;  // when limited
  };
  std::vector<Wait> waits;
  std::vector<std::string> calls;  // the socket calls, in order
  int openSockets = 0;             // socket() minus closesocket()
  // One WSAGetLastError answer of the device's own (0: none).
  int nextError = 0;
  // A connect played as Windows fails it: under way, then the socket in
  // the exception set alone, with `laterError` in SO_ERROR.
  bool connectFailsLater = false;
  int laterError = 0;

  int WSAStartup(WORD version, WSADATA* data) override {
    calls.push_back("WSAStartup");
    requested = version;
    const int result = PassThroughSystem::WSAStartup(version, data);
    if (result == 0) ++startups;
    if (result == 0 && grantedVersion != 0) data->wVersion = grantedVersion;
    return result;
  }
  int WSACleanup() override {
    calls.push_back("WSACleanup");
    ++cleanups;
    return PassThroughSystem::WSACleanup();
  }
  int WSAGetLastError() override {
    if (const int error = nextError) {
      nextError = 0;
      return error;
    }
    return socketError ? socketError : PassThroughSystem::WSAGetLastError();
  }
  hostent* gethostbyname(const char* name) override {
    calls.push_back("gethostbyname");
    return PassThroughSystem::gethostbyname(name);
  }
  int gethostname(char* name, int length) override {
    calls.push_back("gethostname");
    return PassThroughSystem::gethostname(name, length);
  }
  SOCKET socket(int family, int type, int protocol) override {
    calls.push_back("socket");
    const SOCKET s = PassThroughSystem::socket(family, type, protocol);
    if (s != INVALID_SOCKET) ++openSockets;
    return s;
  }
  int closesocket(SOCKET s) override {
    calls.push_back("closesocket");
    const int result = PassThroughSystem::closesocket(s);
    if (result == 0) --openSockets;
    return result;
  }
  std::vector<std::pair<long, u_long>> ioctls;  // command, argument
  int ioctlsocket(SOCKET s, long command, u_long* argument) override {
    calls.push_back("ioctlsocket");
    ioctls.emplace_back(command, *argument);
    return PassThroughSystem::ioctlsocket(s, command, argument);
  }
  // Sends that find no room (-1: every one), each taking 100 ms of the
  // clock of its own.
  int sendsBlocked = 0;
  int send(SOCKET s, const char* buffer, int length, int flags) override {
    if (sendsBlocked == 0) return PassThroughSystem::send(s, buffer, length, flags);
    if (sendsBlocked > 0) --sendsBlocked;
    nextError = WSAEWOULDBLOCK;
    clock += 100;
    return SOCKET_ERROR;
  }
  int setsockopt(SOCKET s, int level, int option, const char* value, int length) override {
    calls.push_back("setsockopt");
    options = {level, option, length == 4 ? *reinterpret_cast<const int*>(value) : -1};
    return PassThroughSystem::setsockopt(s, level, option, value, length);
  }
  int connect(SOCKET s, const sockaddr* address, int length) override {
    calls.push_back("connect");
    connectLength = length;
    std::memcpy(&connectedTo, address, sizeof connectedTo);
    if (connectFailsLater) {
      nextError = WSAEWOULDBLOCK;
      return SOCKET_ERROR;
    }
    if (!refuseConnect) return PassThroughSystem::connect(s, address, length);
    socketError = WSAEINPROGRESS;
    return SOCKET_ERROR;
  }
  int getsockopt(SOCKET s, int level, int option, char* value, int* length) override {
    calls.push_back("getsockopt");
    if (!connectFailsLater || option != SO_ERROR) {
      return PassThroughSystem::getsockopt(s, level, option, value, length);
    }
    std::memcpy(value, &laterError, sizeof laterError);
    return 0;
  }
  // A server that keeps the connection full: every receive fills the whole
  // buffer with 8-byte lines, and takes 100 ms of a clock of its own. Or
  // one that trickles: every receive takes one byte of `trickle` and a
  // second of that clock.
  bool flood = false;
  bool ownClock = false;
  std::string trickle;
  DWORD clock = 0;
  int receives = 0;
  int recv(SOCKET s, char* buffer, int length, int flags) override {
    if (!trickle.empty()) {
      buffer[0] = trickle[0];
      trickle.erase(0, 1);
      clock += 1000;
      return 1;
    }
    if (!flood) return PassThroughSystem::recv(s, buffer, length, flags);
    for (int i = 0; i < length; ++i) buffer[i] = "flooded\n"[i % 8];
    ++receives;
    clock += 100;
    return length;
  }
  // The engine's clock counts milliseconds: this fake's own, or the real ones.
  BOOL QueryPerformanceCounter(LARGE_INTEGER* count) override {
    count->QuadPart = flood || ownClock ? clock : ::GetTickCount();
    return TRUE;
  }
  BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) override {
    frequency->QuadPart = 1000;
    return TRUE;
  }
  int select(int n, fd_set* readable, fd_set* writable, fd_set* failed, timeval* time) override {
    calls.push_back("select");
    waits.push_back({writable != nullptr, failed != nullptr, time != nullptr, time ? *time : timeval{}});
    if (failed && connectFailsLater) {
      writable->fd_count = 0;
      return 1;
    }
    if (readable && readsTimeOut) return 0;
    if (readable && (flood || !trickle.empty())) return 1;
    return PassThroughSystem::select(n, readable, writable, failed, time);
  }
  BOOL WriteFile(HANDLE handle, const void* buffer, DWORD count, DWORD* written) override {
    const BOOL ok = PassThroughSystem::WriteFile(handle, buffer, shortWrites ? count - 1 : count,
                                                 written);
    return ok;
  }
};

class SocketCalls : public ::testing::Test {
 protected:
  void SetUp() override {
    variables.clear();
    wl::SetHostLink(nullptr, reinterpret_cast<const void*>(&SetVariable));
    wl::UseSystem(&sockets);
  }
  void TearDown() override {
    wl::wlTCPclose("");
    wl::UseSystem(nullptr);
    wl::SetHostLink(nullptr, nullptr);
  }
  std::string err(void (*action)(const std::string&), const std::string& parameter) {
    variables.erase("wlTcpErr");
    action(parameter);
    return variables["wlTcpErr"];
  }
  static ScriptedPeer::Script UntilClosed() {
    return [](ScriptedPeer& p) { p.clientClosed(8000); };
  }
  RecordingSockets sockets;
};

bool Same(const timeval& t, long seconds, long microseconds) {
  return t.tv_sec == seconds && t.tv_usec == microseconds;
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

TEST_F(SocketCalls, EveryStartOfTheStackIsMatchedByOneCleanup) {
  ScriptedPeer peer(UntilClosed());
  EXPECT_EQ(err(wl::wlTCPopen, peer.openText(500)), " 0");
  EXPECT_EQ(sockets.requested, 0x0002);
  EXPECT_EQ(err(wl::wlTCPopen, peer.openText(500)), " 55");
  EXPECT_EQ(sockets.startups, 1);
  EXPECT_EQ(err(wl::wlTCPclose, ""), " 0");
  EXPECT_EQ(err(wl::wlTCPclose, ""), " 0");
  EXPECT_EQ(sockets.cleanups, 1);

  const std::string refused = "127.0.0.1," + std::to_string(tcptest::UnusedPort()) + ",500";
  EXPECT_EQ(err(wl::wlTCPopen, refused), " 57");
  EXPECT_EQ(err(wl::wlTCPopen, std::string(200, 'q') + ",80,500"), " 57");
  EXPECT_EQ(err(wl::wlTCPopen, "127.0.0.1,-1,500"), " 57");  // no service has an empty name
  sockets.grantedVersion = 0x0101;
  EXPECT_EQ(err(wl::wlTCPopen, peer.openText(500)), " 68");
  EXPECT_EQ(sockets.startups, 5);
  EXPECT_EQ(sockets.cleanups, 5);
}

TEST_F(SocketCalls, OpenLingersNotAndConnectsToTheLow16BitsOfThePort) {
  sockets.refuseConnect = true;
  EXPECT_EQ(err(wl::wlTCPopen, "127.0.0.1,65616,500"), " 70");
  EXPECT_EQ(sockets.options, (std::vector<int>{SOL_SOCKET, -129, 1}));
  EXPECT_EQ(sockets.connectLength, 16);
  EXPECT_EQ(sockets.connectedTo.sin_family, AF_INET);
  EXPECT_EQ(ntohs(sockets.connectedTo.sin_port), 80);
  EXPECT_EQ(ntohl(sockets.connectedTo.sin_addr.s_addr), 0x7F000001u);
  EXPECT_EQ(sockets.startups, sockets.cleanups);
  EXPECT_EQ(err(wl::wlTCPsend, "x"), " 52");
}

// The socket stops blocking before its connect (a blocking one waits as long
// as the system tries: on Windows about 21 s for a host that never answers).
// The connect under way is awaited by one select of the write and exception
// sets within the connection's time-out, none for 0, and SO_ERROR says how
// it went.
TEST_F(SocketCalls, AnOpenConnectsWithoutBlockingAndAwaitsTheConnectWithinItsTimeOut) {
  const struct {
    const char* timeout;
    bool limited;
  } cases[] = {{"1024", true}, {"0", false}};
  for (const auto& c : cases) {
    ScriptedPeer peer(UntilClosed());
    sockets.calls.clear();
    sockets.ioctls.clear();
    sockets.waits.clear();
    ASSERT_EQ(err(wl::wlTCPopen, "127.0.0.1," + std::to_string(peer.port()) + "," + c.timeout), " 0");
    EXPECT_EQ(sockets.calls, (std::vector<std::string>{"WSAStartup", "gethostbyname", "socket", "setsockopt",
                                                       "gethostname", "ioctlsocket", "connect", "select",
                                                       "getsockopt"}));
    EXPECT_EQ(sockets.ioctls, (std::vector<std::pair<long, u_long>>{{FIONBIO, 1}}));
    ASSERT_EQ(sockets.waits.size(), 1u);
    EXPECT_TRUE(sockets.waits[0].forWriting);
    EXPECT_TRUE(sockets.waits[0].forFailure);
    EXPECT_EQ(sockets.waits[0].limited, c.limited) << c.timeout;
    EXPECT_TRUE(!c.limited || Same(sockets.waits[0].time, 1, 0));
    EXPECT_EQ(err(wl::wlTCPclose, ""), " 0");
    EXPECT_TRUE(peer.finished(8000));
    EXPECT_EQ(sockets.openSockets, 0);
  }
}

// A listener whose queue is full drops the SYN: the connect gets no answer
// and the open ends after its time-out with 24, leaving nothing open.
TEST_F(SocketCalls, AConnectWithoutAnswerEndsAfterItsTimeOutAndLeavesNothing) {
  tcptest::FullListener listener;
  ASSERT_TRUE(listener.full()) << "every connect to a listener that never accepts was answered";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(err(wl::wlTCPopen, "127.0.0.1," + std::to_string(listener.port()) + ",300"), " 24");
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(ms, 3000) << "the time-out of 307 ms did not end the connect";
  EXPECT_EQ(sockets.openSockets, 0);
  EXPECT_EQ(sockets.startups, 1);
  EXPECT_EQ(sockets.cleanups, 1);
  EXPECT_EQ(err(wl::wlTCPsend, "x"), " 52");
}

// Windows reports a failed non-blocking connect in the exception set alone,
// its error in SO_ERROR: a refusal, an unreachable host and the system's own
// time-out give 57, WSAEINPROGRESS 70, as from any socket call. A closed
// port of 127.0.0.1 (refused at once here) gives 57 too, before its time-out.
// None leaves a socket, a started stack or a connection behind.
TEST_F(SocketCalls, AFailedConnectGivesItsErrorsNumberAndLeavesNothing) {
  const std::string closed = "127.0.0.1," + std::to_string(tcptest::UnusedPort()) + ",5000";
  EXPECT_EQ(err(wl::wlTCPopen, closed), " 57");
  sockets.connectFailsLater = true;
  const struct {
    int error;
    const char* reported;
  } cases[] = {{WSAECONNREFUSED, " 57"}, {WSAEHOSTUNREACH, " 57"}, {WSAETIMEDOUT, " 57"},
               {WSAEINPROGRESS, " 70"}, {0, " 57"}};
  for (const auto& c : cases) {
    sockets.laterError = c.error;
    EXPECT_EQ(err(wl::wlTCPopen, closed), c.reported) << c.error;
  }
  EXPECT_EQ(sockets.openSockets, 0);
  EXPECT_EQ(sockets.startups, 6);
  EXPECT_EQ(sockets.cleanups, 6);
  EXPECT_EQ(err(wl::wlTCPsend, "x"), " 52");
}

TEST_F(SocketCalls, WaitsAreBuiltByShiftsFromTheMilliseconds) {
  sockets.readsTimeOut = true;
  const struct {
    const char* timeout;
    long seconds, microseconds;
  } cases[] = {{"1024", 1, 0}, {"1023", 0, 1047552}, {"1000", 0, 1024000},
               {"0", 4194303, 1047552}, {"-1", 4194303, 1047552}, {"2049", 2, 1024}};
  for (const auto& c : cases) {
    ScriptedPeer peer(UntilClosed());
    const std::string text = "127.0.0.1," + std::to_string(peer.port()) + "," + c.timeout;
    ASSERT_EQ(err(wl::wlTCPopen, text), " 0");
    sockets.waits.clear();
    EXPECT_EQ(err(wl::wlTCPsend, "x"), " 0");
    EXPECT_EQ(err(wl::wlTCPrxbyte, "v"), " 24");
    ASSERT_EQ(sockets.waits.size(), 2u);
    EXPECT_TRUE(sockets.waits[0].forWriting);
    EXPECT_TRUE(Same(sockets.waits[0].time, c.seconds, c.microseconds)) << c.timeout;
    EXPECT_FALSE(sockets.waits[1].forWriting);
    EXPECT_TRUE(Same(sockets.waits[1].time, c.seconds, c.microseconds)) << c.timeout;
    // A flush only looks: it never waits.
    sockets.waits.clear();
    EXPECT_EQ(err(wl::wlTCPrxFlush, ""), " 0");
    ASSERT_EQ(sockets.waits.size(), 1u);
    EXPECT_TRUE(Same(sockets.waits[0].time, 0, 0));
    EXPECT_EQ(err(wl::wlTCPclose, ""), " 0");
  }
}

// A connected socket does not block: Windows may block a send on a blocking
// socket that select called writable when it is given more than the room
// free. A send that finds no room waits again, within the time-out.
TEST_F(SocketCalls, SendsNeverBlockAndOneThatFindsNoRoomWaitsUnderTheTimeOut) {
  ScriptedPeer peer([](ScriptedPeer& p) {
    if (p.receive(5, 8000) == "hello") p.send("got it\r\n");
    p.clientClosed(8000);
  });
  ASSERT_EQ(err(wl::wlTCPopen, peer.openText(1000)), " 0");
  EXPECT_EQ(sockets.ioctls, (std::vector<std::pair<long, u_long>>{{FIONBIO, 1}}));
  sockets.sendsBlocked = 3;
  EXPECT_EQ(err(wl::wlTCPsend, "hello"), " 0");
  EXPECT_EQ(err(wl::wlTCPrxline, "v"), " 0");
  EXPECT_EQ(variables["v"], "got it");
  sockets.ownClock = true;
  sockets.sendsBlocked = -1;
  const DWORD before = sockets.clock;
  EXPECT_EQ(err(wl::wlTCPsend, "more"), " 24");
  EXPECT_EQ(sockets.clock - before, 1100u);  // the first finds no room, then a second passes
}

// A line still trickling in after its time bound is handed over without a
// line end the server never sent: wlTCPrxFT's file holds the whole line once
// the next call has appended the rest and its end; wlTCPrxF's holds the
// piece as it came.
TEST_F(SocketCalls, APieceHandedOverForItsBoundGetsNoLineEnd) {
  ScriptedPeer peer(UntilClosed());
  ASSERT_EQ(err(wl::wlTCPopen, peer.openText(30000)), " 0");
  sockets.ownClock = true;
  const std::string dir = wltest::ScratchDir("SocketCalls");
  const std::string appended = dir + "/appended.txt", replaced = dir + "/replaced.txt";
  std::remove(appended.c_str());
  sockets.trickle = "abcdefghijklmnop\r\n";
  EXPECT_EQ(err(wl::wlTCPrxFT, appended), " 0");
  EXPECT_EQ(variables["wlTcpEof"], " 0");
  EXPECT_EQ(Slurp(appended), "abcdefghijk");  // its first byte, then ten seconds
  EXPECT_EQ(err(wl::wlTCPrxFT, appended), " 0");
  EXPECT_EQ(Slurp(appended), "abcdefghijklmnop\r\n");

  sockets.trickle = "abcdefghijklmnopqrstuvwxyz";
  EXPECT_EQ(err(wl::wlTCPrxF, replaced), " 0");
  EXPECT_EQ(variables["wlTcpEof"], " 0");
  EXPECT_EQ(Slurp(replaced), "abcdefghijk");
  EXPECT_EQ(sockets.trickle, "lmnopqrstuvwxyz");  // the rest stays in the connection
}

TEST_F(SocketCalls, AShortFileWriteIsReported) {
  ScriptedPeer peer([](ScriptedPeer& p) {
    p.send("a\r\nb\r\n");
    p.clientClosed(8000);
  });
  ASSERT_EQ(err(wl::wlTCPopen, peer.openText(300)), " 0");
  const std::string file = wltest::ScratchDir("SocketCalls") + "/short.txt";
  sockets.shortWrites = true;
  EXPECT_EQ(err(wl::wlTCPrxF, file), " 61");
  EXPECT_EQ(variables["wlTcpEof"], "-1");
  sockets.shortWrites = false;
  EXPECT_EQ(err(wl::wlTCPrxF, file), " 24");  // the lines were taken all the same
}

TEST_F(SocketCalls, AConnectionKeptFullEndsTheReceiveToAFileAfterItsTimeLimit) {
  ScriptedPeer peer(UntilClosed());
  ASSERT_EQ(err(wl::wlTCPopen, peer.openText(500)), " 0");
  sockets.flood = true;
  const std::string file = wltest::ScratchDir("SocketCalls") + "/flood.txt";
  EXPECT_EQ(err(wl::wlTCPrxF, file), " 0");
  EXPECT_EQ(variables["wlTcpEof"], " 0");  // more is waiting
  // Ten seconds of receives after the first one brought the first byte: the
  // first line of the last one ends it, and every line taken is written
  // whole.
  EXPECT_EQ(sockets.receives, 101);
  const std::string written = Slurp(file);
  std::string expected;
  for (int line = 0; line < 100 * 8192 + 1; ++line) expected += "flooded\r\n";
  EXPECT_TRUE(written == expected) << written.size() << " bytes written";
}

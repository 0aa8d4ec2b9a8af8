// A simulated port and a played server as Windows code sees them: this
// test program's own imports are served by the chain, as a comm plug-in's
// are, and the calls below are plain Win32 and Windows Sockets calls. What
// the plug-ins never ask (a second open, other creation modes, refused
// settings, every kind of read time-out, a non-blocking receive) is asked
// here.
#include <gtest/gtest.h>
#include <winsock.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "wire/chain.h"

namespace {

class SimulatedPort : public ::testing::Test {
 protected:
  void SetUp() override {
    const nbdevice::ParsedFile parsed = nbdevice::ParseDeviceFile(
        "answers end none\non \"B\" send \"x\" wait 2000 \"y\"\n");
    ASSERT_TRUE(parsed.ok) << parsed.error;
    ASSERT_TRUE(nbwire::Play("COM12", parsed.device));
    nbwire::Serve(GetModuleHandleA(nullptr));
  }
  void TearDown() override { nbwire::Detach(); }

  static HANDLE Open(const char* name, DWORD creation = OPEN_EXISTING) {
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, creation, 0, nullptr);
  }
  // Asks, then waits the few milliseconds "x" takes on the line (its bytes
  // come at the port's rate).
  static void Ask(HANDLE port) {
    DWORD n = 0;
    EXPECT_TRUE(WriteFile(port, "B\r", 2, &n, nullptr));
    EXPECT_EQ(n, 2u);
    Sleep(20);
  }
  // Reads up to `count` bytes under `timeouts`.
  static std::string Read(HANDLE port, COMMTIMEOUTS timeouts, DWORD count) {
    EXPECT_TRUE(SetCommTimeouts(port, &timeouts));
    char buffer[16];
    DWORD n = 0;
    EXPECT_TRUE(ReadFile(port, buffer, count, &n, nullptr));
    return std::string(buffer, n);
  }
};

TEST_F(SimulatedPort, OpensAndKeepsItsSettingsAsAWindowsPortDoes) {
  HANDLE port = Open("\\\\.\\COM12");
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), 0u);
  EXPECT_EQ(Open("\\\\.\\com12"), INVALID_HANDLE_VALUE);  // not shared
  EXPECT_EQ(GetLastError(), 5u);
  EXPECT_EQ(GetFileType(port), static_cast<DWORD>(FILE_TYPE_CHAR));

  DCB dcb{};
  ASSERT_TRUE(GetCommState(port, &dcb));
  EXPECT_EQ(dcb.BaudRate, 9600u);
  dcb.BaudRate = 28800;
  dcb.ByteSize = 7;
  dcb.Parity = EVENPARITY;
  dcb.fOutxCtsFlow = TRUE;
  ASSERT_TRUE(SetCommState(port, &dcb));
  dcb.ByteSize = 9;
  SetLastError(0);
  EXPECT_FALSE(SetCommState(port, &dcb));
  EXPECT_EQ(GetLastError(), 87u);
  DCB back{};
  ASSERT_TRUE(GetCommState(port, &back));
  EXPECT_EQ(back.BaudRate, 28800u);
  EXPECT_EQ(back.ByteSize, 7);
  EXPECT_EQ(back.Parity, EVENPARITY);
  EXPECT_TRUE(back.fOutxCtsFlow);

  ASSERT_TRUE(SetupComm(port, 16384, 2048));
  COMMPROP properties{};
  ASSERT_TRUE(GetCommProperties(port, &properties));
  EXPECT_EQ(properties.dwCurrentRxQueue, 16384u);
  EXPECT_EQ(properties.dwCurrentTxQueue, 2048u);
  COMMTIMEOUTS timeouts{1, 2, 3, 4, 5};
  ASSERT_TRUE(SetCommTimeouts(port, &timeouts));
  ASSERT_TRUE(CloseHandle(port));

  // The settings and the time-outs outlive the handle, as the Windows
  // driver keeps them (Wine zeroes the time-outs at each open).
  EXPECT_EQ(Open("\\\\.\\COM12", CREATE_NEW), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), 80u);
  port = Open("\\\\.\\COM12", OPEN_ALWAYS);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), 183u);
  ASSERT_TRUE(GetCommState(port, &back));
  EXPECT_EQ(back.BaudRate, 28800u);
  timeouts = COMMTIMEOUTS{};
  ASSERT_TRUE(GetCommTimeouts(port, &timeouts));
  EXPECT_EQ(timeouts.ReadIntervalTimeout, 1u);
  EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 5u);
  CloseHandle(port);
}

// The device answers B with "x" at once and "y" two seconds later.
TEST_F(SimulatedPort, ReadsWaitAsTheTimeoutsSay) {
  HANDLE port = Open("\\\\.\\COM12");
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  // At once with what is there.
  Ask(port);
  EXPECT_EQ(Read(port, {MAXDWORD, 0, 0, 0, 0}, 2), "x");
  // The first bytes to come: y, after its two seconds.
  EXPECT_EQ(Read(port, {MAXDWORD, MAXDWORD, 10000, 0, 0}, 2), "y");
  // All zero: until the count is in, however long that takes.
  Ask(port);
  COMSTAT status{};
  DWORD errors = 0;
  ASSERT_TRUE(ClearCommError(port, &errors, &status));
  EXPECT_EQ(status.cbInQue, 1u);
  EXPECT_EQ(Read(port, {0, 0, 0, 0, 0}, 2), "xy");
  // A total or an interval time-out ends the wait before y comes.
  Ask(port);
  EXPECT_EQ(Read(port, {0, 0, 50, 0, 0}, 2), "x");
  // (the next answer starts once this one's y has gone: answers keep their order)
  EXPECT_EQ(Read(port, {MAXDWORD, MAXDWORD, 10000, 0, 0}, 2), "y");
  Ask(port);
  EXPECT_EQ(Read(port, {50, 0, 0, 0, 0}, 2), "x");
  CloseHandle(port);
}

double MsSince(const LARGE_INTEGER& start) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// A port played with a device of its own, on COM13.
HANDLE PlayAndOpen(const std::string& file) {
  const nbdevice::ParsedFile parsed = nbdevice::ParseDeviceFile(file);
  EXPECT_TRUE(parsed.ok) << parsed.error;
  EXPECT_TRUE(nbwire::Play("COM13", parsed.device));
  nbwire::Serve(GetModuleHandleA(nullptr));
  return CreateFileA("\\\\.\\COM13", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

// Every call on a removed device's handle but CloseHandle fails with its
// removal code; the last error says so.
void ExpectEveryCallFails(HANDLE port, DWORD error) {
  char buffer[4];
  DWORD n = 0, errors = 0;
  COMSTAT status{};
  DCB dcb{};
  COMMTIMEOUTS timeouts{};
  COMMPROP properties{};
  SetLastError(0);
  EXPECT_FALSE(ReadFile(port, buffer, 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), error);
  SetLastError(0);
  EXPECT_FALSE(WriteFile(port, "x", 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), error);
  const std::pair<const char*, BOOL> calls[] = {
      {"ClearCommError", ClearCommError(port, &errors, &status)},
      {"GetCommState", GetCommState(port, &dcb)},
      {"SetCommState", SetCommState(port, &dcb)},
      {"GetCommTimeouts", GetCommTimeouts(port, &timeouts)},
      {"SetCommTimeouts", SetCommTimeouts(port, &timeouts)},
      {"SetupComm", SetupComm(port, 4096, 4096)},
      {"GetCommProperties", GetCommProperties(port, &properties)},
  };
  for (const auto& call : calls) EXPECT_FALSE(call.second) << call.first;
  EXPECT_EQ(GetLastError(), error);
}

// The device is pulled out on request and comes back 300 ms later; 1 s
// after the open it goes for good with the default code.
TEST(SimulatedPortRemoval, CallsFailAsOnARemovedAdapterUntilClosedAndOpenedAgain) {
  HANDLE port = PlayAndOpen("on \"PULL\" unplug error 1617 then plug in after 300\nat 1000 unplug\n");
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(port, "PULL\r", 5, &n, nullptr));
  ExpectEveryCallFails(port, 1617);
  EXPECT_EQ(CreateFileA("\\\\.\\COM13", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), 2u);  // no such device while it is out
  Sleep(350);
  // Back, but the old handle still fails and holds the port.
  ExpectEveryCallFails(port, 1617);
  EXPECT_EQ(CreateFileA("\\\\.\\COM13", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), 5u);
  EXPECT_TRUE(CloseHandle(port));
  port = CreateFileA("\\\\.\\COM13", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  COMMTIMEOUTS timeouts{0, 0, 3000, 0, 0};
  ASSERT_TRUE(SetCommTimeouts(port, &timeouts));
  // A read waiting when the device goes fails then, not after its time-out.
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  char buffer[4];
  EXPECT_FALSE(ReadFile(port, buffer, 4, &n, nullptr));
  EXPECT_EQ(GetLastError(), 22u);
  EXPECT_LT(MsSince(start), 2500.0);
  ExpectEveryCallFails(port, 22);
  EXPECT_TRUE(CloseHandle(port));
  nbwire::Detach();
}

// What Windows does that Wine does not: all three read time-outs MAXDWORD
// are refused, a write takes its line time and a shorter total write
// time-out cuts it, and with fAbortOnError a lost byte stops reads and
// writes until ClearCommError.
TEST(SimulatedPortWindows, TimeoutsWritesAndAbortOnErrorAsWindowsHasThem) {
  HANDLE port = PlayAndOpen("line rate none\nat 0 send \"" + std::string(5000, 'x') + "\"\n");
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, MAXDWORD, 0, 0};
  SetLastError(0);
  EXPECT_FALSE(SetCommTimeouts(port, &timeouts));
  EXPECT_EQ(GetLastError(), 87u);

  DCB dcb{};
  ASSERT_TRUE(GetCommState(port, &dcb));
  dcb.BaudRate = 1200;  // 8.33 ms a byte
  dcb.fAbortOnError = TRUE;
  ASSERT_TRUE(SetCommState(port, &dcb));
  const std::string data(24, 'w');
  DWORD n = 0;
  // The 5,000 bytes overflowed the 4,096-byte queue: a line error.
  SetLastError(0);
  EXPECT_FALSE(WriteFile(port, data.data(), 24, &n, nullptr));
  EXPECT_EQ(GetLastError(), 995u);
  char buffer[16];
  EXPECT_FALSE(ReadFile(port, buffer, 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), 995u);
  DWORD errors = 0;
  COMSTAT status{};
  ASSERT_TRUE(ClearCommError(port, &errors, &status));
  EXPECT_EQ(errors, static_cast<DWORD>(CE_RXOVER));
  EXPECT_EQ(status.cbInQue, 4096u);
  timeouts = {MAXDWORD, 0, 0, 0, 0};
  ASSERT_TRUE(SetCommTimeouts(port, &timeouts));
  EXPECT_TRUE(ReadFile(port, buffer, 16, &n, nullptr));
  EXPECT_EQ(n, 16u);

  // Longer than the played clock's longest single sleep, too.
  const std::string longer(150, 'w');
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  EXPECT_TRUE(WriteFile(port, longer.data(), 150, &n, nullptr));
  EXPECT_EQ(n, 150u);
  EXPECT_GE(MsSince(start), 1249.0);  // 150 x 8.33 ms on the line
  timeouts.WriteTotalTimeoutConstant = 50;  // 6 bytes' time
  ASSERT_TRUE(SetCommTimeouts(port, &timeouts));
  QueryPerformanceCounter(&start);
  EXPECT_TRUE(WriteFile(port, data.data(), 24, &n, nullptr));
  EXPECT_GE(n, 5u);
  EXPECT_LE(n, 6u);
  EXPECT_GE(MsSince(start), 49.0);
  CloseHandle(port);
  nbwire::Detach();
}


// Waits up to `ms` for `s` to be readable: select's count.
int WaitReadable(SOCKET s, long ms) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval wait = {ms / 1000, (ms % 1000) * 1000};
  return select(0, &set, nullptr, nullptr, &wait);
}

std::string Receive(SOCKET s) {
  char buffer[64];
  const int n = recv(s, buffer, sizeof buffer, 0);
  return n > 0 ? std::string(buffer, n) : n == 0 ? "<end>" : "<error " + std::to_string(WSAGetLastError()) + ">";
}

// The server greets, echoes after 300 ms and closes after QUIT. Played under
// a name and under a loopback address nothing listens on.
TEST(PlayedServer, SocketCallsFindAServerAsARealOneAnswers) {
  const nbdevice::ParsedFile parsed = nbdevice::ParseDeviceFile(
      "at 0 send \"HI\"\nmatch \"ECHO (.*)\" send wait 300 \"$1\"\non \"QUIT\" send \"BYE\" close\n");
  ASSERT_TRUE(parsed.ok) << parsed.error;
  ASSERT_TRUE(nbwire::Play("localhost:7000", parsed.device));
  ASSERT_TRUE(nbwire::Play("127.0.0.7:7001", parsed.device));
  nbwire::Serve(GetModuleHandleA(nullptr));
  WSADATA data;
  ASSERT_EQ(WSAStartup(0x0002, &data), 0);

  const hostent* found = gethostbyname("LocalHost");  // as the script writes it, in any case
  ASSERT_NE(found, nullptr);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(7000);
  std::memcpy(&address.sin_addr, found->h_addr_list[0], 4);
  EXPECT_EQ(std::string(inet_ntoa(address.sin_addr)), "127.87.66.1");
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  ASSERT_EQ(connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(WaitReadable(s, 1000), 1);
  u_long waiting = 0;
  ASSERT_EQ(ioctlsocket(s, FIONREAD, &waiting), 0);
  EXPECT_EQ(waiting, 4u);
  EXPECT_EQ(Receive(s), "HI\r\n");

  // The echo comes 300 ms later: a shorter wait ends by its time-out, in
  // real time; a non-blocking receive meanwhile would block.
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  EXPECT_EQ(send(s, "ECHO x\r\n", 8, 0), 8);
  LARGE_INTEGER waitStart;
  QueryPerformanceCounter(&waitStart);
  EXPECT_EQ(WaitReadable(s, 100), 0);
  EXPECT_GE(MsSince(waitStart), 100.0);
  u_long on = 1;
  ASSERT_EQ(ioctlsocket(s, FIONBIO, &on), 0);
  EXPECT_EQ(Receive(s), "<error 10035>");
  EXPECT_EQ(WaitReadable(s, 2000), 1);
  EXPECT_GE(MsSince(start), 299.0);  // the played clock counts whole milliseconds
  EXPECT_EQ(Receive(s), "x\r\n");

  // The server's close: what it sent first, then the end, every time; the
  // first send after it goes, the next is refused.
  EXPECT_EQ(send(s, "QUIT\r\n", 6, 0), 6);
  EXPECT_EQ(WaitReadable(s, 1000), 1);
  EXPECT_EQ(Receive(s), "BYE\r\n");
  EXPECT_EQ(Receive(s), "<end>");
  EXPECT_EQ(Receive(s), "<end>");
  EXPECT_EQ(send(s, "x", 1, 0), 1);
  EXPECT_EQ(send(s, "x", 1, 0), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);
  EXPECT_EQ(closesocket(s), 0);

  // The dotted address is played on its port only; another port of the
  // played name is the name's real address. Nothing listens on either.
  for (const auto& other : {std::make_pair("127.0.0.7", 7001), std::make_pair("127.0.0.7", 7002),
                            std::make_pair("localhost", 1)}) {
    found = gethostbyname(other.first);
    ASSERT_NE(found, nullptr) << other.first;
    std::memcpy(&address.sin_addr, found->h_addr_list[0], 4);
    address.sin_port = htons(static_cast<u_short>(other.second));
    s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    const bool played = other.second == 7001;
    EXPECT_EQ(connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address), played ? 0 : SOCKET_ERROR)
        << other.first << ":" << other.second;
    if (played) {
      EXPECT_EQ(Receive(s), "HI\r\n");
    } else {
      EXPECT_EQ(WSAGetLastError(), WSAECONNREFUSED) << other.first << ":" << other.second;
    }
    closesocket(s);
  }
  WSACleanup();
  nbwire::Detach();
}

// A socket made non-blocking before its connect connects to a played server
// as to a real one on Windows: the connect is under way, select finds the
// socket writable and not failed, SO_ERROR is 0, and the connection stays
// non-blocking. A port nothing plays or listens on is refused through the
// same calls, a played name's other port included.
TEST(PlayedServer, ANonBlockingConnectIsUnderWayThenDone) {
  const nbdevice::ParsedFile parsed = nbdevice::ParseDeviceFile("at 0 send \"HI\"\n");
  ASSERT_TRUE(parsed.ok) << parsed.error;
  ASSERT_TRUE(nbwire::Play("localhost:7000", parsed.device));
  ASSERT_TRUE(nbwire::Play("127.0.0.7:7001", parsed.device));
  nbwire::Serve(GetModuleHandleA(nullptr));
  WSADATA data;
  ASSERT_EQ(WSAStartup(0x0002, &data), 0);
  for (const auto& place : {std::make_pair("127.0.0.7", 7001), std::make_pair("127.0.0.7", 7002),
                            std::make_pair("localhost", 1)}) {
    SCOPED_TRACE(std::string(place.first) + ":" + std::to_string(place.second));
    const hostent* found = gethostbyname(place.first);
    ASSERT_NE(found, nullptr);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(place.second));
    std::memcpy(&address.sin_addr, found->h_addr_list[0], 4);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    u_long on = 1;
    ASSERT_EQ(ioctlsocket(s, FIONBIO, &on), 0);
    EXPECT_EQ(connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_SET(s, &writable);
    FD_ZERO(&failed);
    FD_SET(s, &failed);
    timeval wait = {2, 0};
    EXPECT_EQ(select(0, nullptr, &writable, &failed, &wait), 1);
    int error = -1;
    int length = sizeof error;
    ASSERT_EQ(getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length), 0);
    if (place.second == 7001) {
      EXPECT_EQ(writable.fd_count, 1u);
      EXPECT_EQ(failed.fd_count, 0u);
      EXPECT_EQ(error, 0);
      EXPECT_EQ(WaitReadable(s, 1000), 1);
      EXPECT_EQ(Receive(s), "HI\r\n");
      EXPECT_EQ(Receive(s), "<error 10035>");
    } else {
      EXPECT_EQ(error, WSAECONNREFUSED);
    }
    closesocket(s);
  }
  WSACleanup();
  nbwire::Detach();
}

}  // namespace

#include "scripted_peer.h"

#include <winsock.h>
#include <windows.h>

#include <algorithm>
#include <chrono>

namespace tcptest {
namespace {

constexpr int kAcceptMs = 10000;
constexpr int kSendMs = 60000;

SOCKET Sock(uintptr_t s) { return static_cast<SOCKET>(s); }

// Whether the socket becomes readable within the time.
bool Ready(SOCKET s, bool forWriting, int timeoutMs) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval time = {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  return select(0, forWriting ? nullptr : &set, forWriting ? &set : nullptr, nullptr, &time) == 1;
}

int Remaining(std::chrono::steady_clock::time_point deadline) {
  const auto left = deadline - std::chrono::steady_clock::now();
  const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(left).count();
  return ms > 0 ? static_cast<int>(ms) : 0;
}

struct Stack {
  Stack() {
    WSADATA data;
    WSAStartup(0x0202, &data);
  }
};

}  // namespace

ScriptedPeer::ScriptedPeer(Script script) {
  listener_ = ListenOnLoopback(&port_);
  thread_ = std::thread([this, script] { run(script); });
}

ScriptedPeer::~ScriptedPeer() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
  closesocket(Sock(listener_));
}

bool ScriptedPeer::ready(uintptr_t s, bool forWriting, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  do {
    if (Ready(Sock(s), forWriting, std::min(50, Remaining(deadline)))) return true;
    std::lock_guard<std::mutex> guard(lock_);
    if (stopping_) return false;
  } while (Remaining(deadline) > 0);
  return false;
}

void ScriptedPeer::run(const Script& script) {
  if (ready(listener_, false, kAcceptMs)) {
    client_ = accept(Sock(listener_), nullptr, nullptr);
    if (Sock(client_) != INVALID_SOCKET) {
      // A send the client never takes gives up rather than blocking the
      // script past the test's end.
      const DWORD sendLimit = kSendMs;
      setsockopt(Sock(client_), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&sendLimit),
                 sizeof sendLimit);
      script(*this);
      closesocket(Sock(client_));
    }
  }
  std::lock_guard<std::mutex> guard(lock_);
  done_ = true;
  changed_.notify_all();
}

std::string ScriptedPeer::openText(int timeoutMs) const {
  return "127.0.0.1," + std::to_string(port_) + "," + std::to_string(timeoutMs);
}

bool ScriptedPeer::send(const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    if (!ready(client_, true, kSendMs)) return false;
    const int n = ::send(Sock(client_), bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

std::string ScriptedPeer::receive(size_t count, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string got;
  char buffer[4096];
  while (got.size() < count && ready(client_, false, Remaining(deadline))) {
    const int want = static_cast<int>(std::min(sizeof buffer, count - got.size()));
    const int n = recv(Sock(client_), buffer, want, 0);
    if (n <= 0) break;
    got.append(buffer, static_cast<size_t>(n));
  }
  return got;
}

bool ScriptedPeer::clientClosed(int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  char buffer[4096];
  while (ready(client_, false, Remaining(deadline))) {
    if (recv(Sock(client_), buffer, sizeof buffer, 0) <= 0) return true;
  }
  return false;
}

void ScriptedPeer::pause(int ms) { Sleep(static_cast<DWORD>(ms)); }

bool ScriptedPeer::awaitCount(int& count, int timeoutMs) {
  std::unique_lock<std::mutex> guard(lock_);
  const bool got = changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                     [&] { return count > 0 || stopping_ || done_; });
  if (!got || count == 0) return false;
  --count;
  return true;
}

bool ScriptedPeer::awaitCue(int timeoutMs) { return awaitCount(cues_, timeoutMs); }
bool ScriptedPeer::awaitSignal(int timeoutMs) { return awaitCount(signals_, timeoutMs); }

void ScriptedPeer::cue() {
  std::lock_guard<std::mutex> guard(lock_);
  ++cues_;
  changed_.notify_all();
}

void ScriptedPeer::signal() {
  std::lock_guard<std::mutex> guard(lock_);
  ++signals_;
  changed_.notify_all();
}

bool ScriptedPeer::finished(int timeoutMs) {
  std::unique_lock<std::mutex> guard(lock_);
  return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return done_; });
}

uintptr_t ListenOnLoopback(int* port, int backlog) {
  static Stack stack;  // kept for the process: the plug-in's cleanups must not end it
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
  int length = sizeof address;
  getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  *port = ntohs(address.sin_port);
  listen(s, backlog);
  return s;
}

FullListener::FullListener() {
  listener_ = ListenOnLoopback(&port_, 0);
  // A loopback handshake is the kernel's work alone and takes microseconds;
  // a connect still under way after kPendingMs, twice in a row, had its SYN
  // dropped.
  constexpr size_t kMostConnects = 64;
  constexpr int kPendingMs = 200;
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<u_short>(port_));
  int pendingInARow = 0;
  while (pendingInARow < 2 && connects_.size() < kMostConnects) {
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) break;
    connects_.push_back(s);
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    const bool underWay = connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == SOCKET_ERROR &&
                          WSAGetLastError() == WSAEWOULDBLOCK;
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_SET(s, &writable);
    FD_ZERO(&failed);
    FD_SET(s, &failed);
    timeval wait = {0, kPendingMs * 1000};
    const bool pending = underWay && select(0, nullptr, &writable, &failed, &wait) == 0;
    pendingInARow = pending ? pendingInARow + 1 : 0;
  }
  full_ = pendingInARow == 2;
}

FullListener::~FullListener() {
  for (const uintptr_t s : connects_) closesocket(Sock(s));
  closesocket(Sock(listener_));
}

int UnusedPort() {
  int port = 0;
  closesocket(Sock(ListenOnLoopback(&port)));
  return port;
}

}  // namespace tcptest

#include "socket_layer.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <new>

#include "receive_buffer.h"
#include "serial/channel_table.h"
#include "serial/error_table.h"
#include "serial/system_api.h"

namespace wl {
namespace {

constexpr WORD kSocketsVersion = 0x0002;  // 2.0
constexpr size_t kMaxHostName = 256;
constexpr size_t kMaxDeviceName = 255;

struct TcpConnection : ChannelData {
  SOCKET socket = INVALID_SOCKET;
  uint32_t remoteAddress = 0;  // network byte order
  uint16_t port = 0;           // network byte order
  uint32_t timeoutMs = 0;
  std::string localHostName;
  ReceiveBuffer rx;
};

// Socket errors are told apart only as WSAEINPROGRESS or not.
int ErrorNumberOf(int socketError) {
  return socketError == WSAEINPROGRESS ? kInProgress : kDeviceError;
}

int SocketError() { return ErrorNumberOf(System().WSAGetLastError()); }

uint16_t NetworkOrder(uint16_t port) { return static_cast<uint16_t>((port >> 8) | (port << 8)); }

// One select on the connection's socket: 0 when ready, kTimedOut, or the
// socket error. `poll` looks without waiting.
int Wait(const TcpConnection& c, bool forWriting, bool poll) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(c.socket, &set);
  const WaitTime wait = WaitTimeOf(poll ? 0 : c.timeoutMs);
  timeval time = {wait.seconds, wait.microseconds};
  const int ready = System().select(0, forWriting ? nullptr : &set, forWriting ? &set : nullptr,
                                    nullptr, &time);
  if (ready == SOCKET_ERROR) return SocketError();
  return ready == 0 ? kTimedOut : 0;
}

class SocketSource final : public ByteSource {
 public:
  explicit SocketSource(const TcpConnection& c) : c_(c) {}
  int waitReadable(bool poll) override { return Wait(c_, false, poll); }
  int receive(char* buffer, size_t capacity, int& errorNumber) override {
    const int n = System().recv(c_.socket, buffer, static_cast<int>(capacity), 0);
    if (n == SOCKET_ERROR) errorNumber = SocketError();
    return n == SOCKET_ERROR ? -1 : n;
  }
  uint32_t milliseconds() override { return SystemClock().milliseconds(); }

 private:
  const TcpConnection& c_;
};

// The connection's channel when it is the connection; otherwise nullptr and why.
Channel* FindConnection(int& errorNumber) {
  Channel* channel = Channels().find(kTcpChannel);
  if (channel == nullptr) {
    errorNumber = kNotOpen;
  } else if (channel->channelKind != ChannelKind::TcpConnection) {
    errorNumber = kWrongKind;
    channel = nullptr;
  }
  return channel;
}

TcpConnection& ConnectionOf(Channel& channel) {
  return *static_cast<TcpConnection*>(channel.data.get());
}

// The stored time-out of an open with time-out 0.
constexpr uint32_t kNoTimeLimit = 0xFFFFFFFFu;

// The port and the first address of the host, into `c`.
int Resolve(TcpConnection& c, const std::string& host, int32_t port) {
  SystemApi& sys = System();
  if (port < 0) {
    const servent* service = sys.getservbyname("", "tcp");
    if (service == nullptr) return SocketError();
    c.port = static_cast<uint16_t>(service->s_port);
  } else {
    c.port = NetworkOrder(static_cast<uint16_t>(port & 0xFFFF));
  }
  // A name holds the open for as long as the resolver takes: gethostbyname
  // has no time-out of its own, and a dotted address needs no look-up.
  const hostent* entry = sys.gethostbyname(host.c_str());
  if (entry == nullptr) return SocketError();
  if (entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr || entry->h_length < 4) {
    return kDeviceError;
  }
  std::memcpy(&c.remoteAddress, entry->h_addr_list[0], sizeof c.remoteAddress);
  return 0;
}

// Waits for a connect under way within the connection's time-out (none
// for an open with time-out 0: the system's own connect limit then ends
// it). Windows' select page puts a non-blocking connect's success in the
// write set and its failure in the exception set (so does Wine); Berkeley
// stacks call a failed one writable. Both sets are asked, and
// getsockopt(SO_ERROR), which Windows documents as the socket's own error,
// tells which it was.
int AwaitConnect(const TcpConnection& c) {
  SystemApi& sys = System();
  fd_set writable, failed;
  FD_ZERO(&writable);
  FD_SET(c.socket, &writable);
  FD_ZERO(&failed);
  FD_SET(c.socket, &failed);
  const WaitTime wait = WaitTimeOf(c.timeoutMs);
  timeval time = {wait.seconds, wait.microseconds};
  const int ready =
      sys.select(0, nullptr, &writable, &failed, c.timeoutMs == kNoTimeLimit ? nullptr : &time);
  if (ready == SOCKET_ERROR) return SocketError();
  if (ready == 0) return kTimedOut;
  int error = 0;
  int length = sizeof error;
  if (sys.getsockopt(c.socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) ==
      SOCKET_ERROR) {
    return SocketError();
  }
  if (error != 0) return ErrorNumberOf(error);
  return failed.fd_count == 0 ? 0 : kDeviceError;  // failed, though no error was kept
}

// The socket calls of an open after the stack started. On failure the socket
// (if one was made) is closed again; the caller ends the stack's use.
int Connect(TcpConnection& c, const std::string& host, int32_t port) {
  if (const int error = Resolve(c, host, port)) return error;
  SystemApi& sys = System();
  c.socket = sys.socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (c.socket == INVALID_SOCKET) return SocketError();
  // A later close returns at once; the system still delivers unsent data.
  const int dontLinger = 1;
  char name[kMaxHostName + 1] = {};
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = c.port;
  address.sin_addr.s_addr = c.remoteAddress;
  // The socket never blocks, from before its connect. A blocking connect
  // waits as long as the system tries (on Windows about 21 s for a host
  // that does not answer, 2 s for a refusing port even on loopback); a
  // non-blocking one returns WSAEWOULDBLOCK at once, and select then waits
  // for it within the time-out (Windows documents both in connect's page).
  // Connected, Windows documents that a send on a blocking socket can block
  // even when select called it writable, if it is given more than the
  // buffer space free, which would let a peer that stops reading hold a
  // send for ever. A send on a non-blocking socket takes what fits and
  // returns, so every wait is a select under the connection's time-out.
  // Receives follow a select that found bytes and never wait in recv
  // either way.
  u_long nonBlocking = 1;
  int error = 0;
  if (sys.setsockopt(c.socket, SOL_SOCKET, SO_DONTLINGER, reinterpret_cast<const char*>(&dontLinger),
                     sizeof dontLinger) == SOCKET_ERROR ||
      sys.gethostname(name, kMaxHostName) == SOCKET_ERROR ||
      sys.ioctlsocket(c.socket, FIONBIO, &nonBlocking) == SOCKET_ERROR) {
    error = SocketError();
  } else if (sys.connect(c.socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) ==
             SOCKET_ERROR) {
    const int connectError = sys.WSAGetLastError();
    error = connectError == WSAEWOULDBLOCK ? AwaitConnect(c) : ErrorNumberOf(connectError);
  }
  if (error != 0) {
    sys.closesocket(c.socket);
    return error;
  }
  c.localHostName.assign(name, strnlen(name, kMaxHostName));
  return 0;
}

}  // namespace

int tcpOpen(const std::string& hostText, int32_t port, int32_t timeout) {
  if (Channels().find(kTcpChannel) != nullptr) return kAlreadyOpen;
  const std::string host = hostText.substr(0, kMaxHostName);
  SystemApi& sys = System();
  WSADATA data = {};
  if (sys.WSAStartup(kSocketsVersion, &data) != 0) return kNetworkRefused;
  if (LOBYTE(data.wVersion) != 2) {
    sys.WSACleanup();  // it did start: every start is matched by one cleanup
    return kNetworkRefused;
  }
  std::unique_ptr<Channel> channel;
  TcpConnection* connection = nullptr;
  try {
    channel = std::make_unique<Channel>();
    channel->data = std::make_unique<TcpConnection>();
    connection = static_cast<TcpConnection*>(channel->data.get());
  } catch (const std::bad_alloc&) {
    sys.WSACleanup();
    return kNoMemory;
  }
  connection->timeoutMs = timeout == 0 ? kNoTimeLimit : static_cast<uint32_t>(timeout);
  const int error = Connect(*connection, host, port);
  if (error != 0) {
    sys.WSACleanup();
    return error;
  }
  channel->channelNumber = kTcpChannel;
  channel->channelKind = ChannelKind::TcpConnection;
  channel->osHandle = static_cast<uintptr_t>(connection->socket);
  channel->deviceName = host.substr(0, kMaxDeviceName);
  Channels().insert(std::move(channel));
  return 0;
}

int tcpSend(const std::string& data) {
  int errorNumber = 0;
  Channel* channel = FindConnection(errorNumber);
  if (channel == nullptr) return errorNumber;
  const TcpConnection& c = ConnectionOf(*channel);
  // Each pass waits for room within the time-out and sends what fits; one
  // that finds none although the wait said there was some counts as a wait
  // of its own, under the same time-out.
  Deadline stalled(SystemClock(), c.timeoutMs);
  size_t sent = 0;
  do {
    if (const int wait = Wait(c, true, false)) return wait;
    const int rest = static_cast<int>(std::min<size_t>(data.size() - sent, INT_MAX));
    const int n = System().send(c.socket, data.data() + sent, rest, 0);
    if (n != SOCKET_ERROR) {
      sent += static_cast<size_t>(n);
      stalled.stop();
    } else if (System().WSAGetLastError() != WSAEWOULDBLOCK) {
      return SocketError();
    } else if (stalled.started() && stalled.expired()) {
      return kTimedOut;
    } else {
      stalled.start();
    }
  } while (sent < data.size());
  channel->endOfData = false;
  return 0;
}

int tcpReceive(int32_t count, std::string& bytes) {
  bytes.clear();
  if (count < 0) return kNoMemory;
  try {
    bytes.reserve(static_cast<size_t>(count));
    int errorNumber = 0;
    Channel* channel = FindConnection(errorNumber);
    if (channel == nullptr) return errorNumber;
    TcpConnection& c = ConnectionOf(*channel);
    SocketSource source(c);
    return c.rx.receive(source, static_cast<size_t>(count), bytes, channel->endOfData);
  } catch (const std::bad_alloc&) {
    bytes.clear();
    return kNoMemory;
  }
}

int tcpReceiveLine(std::string& line, LineEnd& end, bool& atEnd, Deadline* stream) {
  const size_t start = line.size();
  end = LineEnd::Whole;
  atEnd = false;
  int errorNumber = 0;
  Channel* channel = FindConnection(errorNumber);
  if (channel == nullptr) return errorNumber;
  try {
    TcpConnection& c = ConnectionOf(*channel);
    SocketSource source(c);
    errorNumber = c.rx.receiveLine(source, line, channel->endOfData, end, stream);
  } catch (const std::bad_alloc&) {
    line.resize(start);
    errorNumber = kNoMemory;
  }
  // The flag as tcpAtEnd gives it, without finding the channel again.
  atEnd = channel->endOfData;
  return errorNumber;
}

int tcpReceiveLines(std::string& out, size_t batch, Deadline& stream) {
  const size_t start = out.size();
  try {
    // Room for the batch, a whole piece and its line end: no append then
    // fails after bytes were taken.
    out.reserve(std::max(start, batch) + kLinePieceBytes + 2);
    int errorNumber = 0;
    Channel* channel = FindConnection(errorNumber);
    if (channel == nullptr) return errorNumber;
    TcpConnection& c = ConnectionOf(*channel);
    SocketSource source(c);
    return c.rx.receiveLines(source, out, batch, channel->endOfData, stream);
  } catch (const std::bad_alloc&) {
    out.resize(start);
    return kNoMemory;
  }
}

int tcpDiscard() {
  int errorNumber = 0;
  Channel* channel = FindConnection(errorNumber);
  if (channel == nullptr) return errorNumber;
  TcpConnection& c = ConnectionOf(*channel);
  SocketSource source(c);
  return c.rx.discard(source, channel->endOfData);
}

bool tcpAtEnd() {
  const Channel* channel = Channels().find(kTcpChannel);
  return channel != nullptr && channel->channelKind == ChannelKind::TcpConnection &&
         channel->endOfData;
}

int tcpClose() {
  Channel* channel = Channels().find(kTcpChannel);
  if (channel == nullptr) return 0;
  if (channel->channelKind != ChannelKind::TcpConnection) return kWrongKind;
  std::unique_ptr<Channel> closed = Channels().remove(kTcpChannel);
  System().closesocket(ConnectionOf(*closed).socket);
  System().WSACleanup();
  return 0;
}

}  // namespace wl

#include "played_servers.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "wire/bounds.h"
#include "wire/played_connection.h"
#include "wire/played_notes.h"
#include "wire/wall_clock.h"

namespace nbwire {
namespace {

using nbdevice::kNever;
using nbdevice::Millis;

struct Played {
  ServerAddress address;
  nbdevice::DeviceFile file;
  uint32_t connects = 0;  // tried so far, refused or not
};

struct Connection {
  SOCKET socket;
  std::unique_ptr<PlayedConnection> played;
  bool nonBlocking;
  std::string where;  // the server as the notes name it
};

std::vector<Played> servers;
// Host names given an address of their own, by that address's last byte
// less one; kept when the name is no longer played, so an address handed
// out never changes its meaning.
std::vector<std::string> names;
std::vector<Connection> connections;
// Sockets not (yet) played that were made non-blocking: a plug-in may do so
// before its connect, and the played connection then keeps that mode.
std::vector<SOCKET> nonBlockingSockets;
// Non-blocking sockets whose connect a played server refused: select puts
// them in the exception set and SO_ERROR is WSAECONNREFUSED (connect's
// page: a non-blocking connect's failure shows in exceptfds).
std::vector<SOCKET> refusedSockets;

// The calls passed on for what is not played.
WireCalls next;

// The loopback network of the played names' addresses: 127.87.66.1 on.
constexpr uint8_t kNameNetwork[3] = {127, 87, 66};

Millis Now() { return WallClockMs(); }

// Windows Sockets' own setter, found at run time: this library imports
// nothing from the network library, and the socket error is the network
// library's to keep.
void SetSocketError(int code) {
  using Setter = void(WINAPI*)(int);
  static const Setter set = [] {
    HMODULE sockets = GetModuleHandleA(kSocketDlls[0]);
    if (sockets == nullptr) sockets = GetModuleHandleA(kSocketDlls[1]);
    return sockets ? reinterpret_cast<Setter>(reinterpret_cast<void*>(GetProcAddress(sockets, "WSASetLastError")))
                   : nullptr;
  }();
  if (set != nullptr) {
    set(code);
  } else {
    SetLastError(static_cast<DWORD>(code));
  }
}

uint16_t HostOrder(uint16_t networkOrder) {
  return static_cast<uint16_t>((networkOrder >> 8) | (networkOrder << 8));
}

// The address a played host answers to; false for a name past the bound.
bool AddressOf(const std::string& host, uint8_t bytes[4]) {
  if (DottedAddress(host, bytes)) return true;
  size_t index = 0;
  while (index < names.size() && !SameHost(names[index], host)) ++index;
  if (index == names.size()) return false;
  std::memcpy(bytes, kNameNetwork, 3);
  bytes[3] = static_cast<uint8_t>(index + 1);
  return true;
}

// The name behind one of the names' addresses, or nullptr.
const std::string* NameAt(const uint8_t bytes[4]) {
  if (std::memcmp(bytes, kNameNetwork, 3) != 0 || bytes[3] == 0 || bytes[3] > names.size()) return nullptr;
  return &names[bytes[3] - 1];
}

Played* ServerAt(const uint8_t bytes[4], uint16_t port) {
  for (Played& server : servers) {
    uint8_t address[4];
    if (server.address.port == port && AddressOf(server.address.host, address) &&
        std::memcmp(address, bytes, 4) == 0) {
      return &server;
    }
  }
  return nullptr;
}

bool Refused(SOCKET s) { return std::find(refusedSockets.begin(), refusedSockets.end(), s) != refusedSockets.end(); }

// The server as the notes name it ("127.0.0.7:5000").
std::string WhereOf(const Played& server) { return server.address.host + ":" + std::to_string(server.address.port); }

// Hands the connection's notes to the sink.
void PassNotes(Connection& c) {
  for (const nbdevice::DeviceNote& note : c.played->takeNotes()) PlayedNote(c.where, note.text);
}

Connection* ConnectionOf(SOCKET s) {
  for (Connection& c : connections) {
    if (c.socket == s) return &c;
  }
  return nullptr;
}

// Takes `s` out of the non-blocking sockets; whether it was there.
bool ForgetNonBlocking(SOCKET s) {
  const auto found = std::find(nonBlockingSockets.begin(), nonBlockingSockets.end(), s);
  if (found == nonBlockingSockets.end()) return false;
  nonBlockingSockets.erase(found);
  return true;
}

// A connect the server refuses (its first `refuse first N`): at once on a
// blocking socket, as WSAECONNREFUSED; on a non-blocking one under way,
// then failed at the next select.
int Refuse(Played& server, SOCKET s) {
  PlayedNote(WhereOf(server), "connect " + std::to_string(server.connects) + " refused (refuse first " +
                                  std::to_string(server.file.refuseFirst) + ")");
  if (!ForgetNonBlocking(s)) {
    SetSocketError(WSAECONNREFUSED);
    return SOCKET_ERROR;
  }
  refusedSockets.push_back(s);
  nonBlockingSockets.push_back(s);
  SetSocketError(WSAEWOULDBLOCK);
  return SOCKET_ERROR;
}

hostent* WINAPI ServerGethostbyname(const char* name) {
  const auto played = std::find_if(servers.begin(), servers.end(), [name](const Played& server) {
    return name != nullptr && SameHost(server.address.host, name);
  });
  static uint8_t bytes[4];
  if (played == servers.end() || !AddressOf(played->address.host, bytes)) return next.gethostbyname(name);
  // Valid until the next call, as Windows Sockets' own answer is.
  static std::string official;
  static char* aliases[1] = {nullptr};
  static char* addresses[2] = {reinterpret_cast<char*>(bytes), nullptr};
  static hostent entry;
  official = name;
  entry.h_name = &official[0];
  entry.h_aliases = aliases;
  entry.h_addrtype = AF_INET;
  entry.h_length = 4;
  entry.h_addr_list = addresses;
  return &entry;
}

int WINAPI ServerConnect(SOCKET s, const sockaddr* address, int length) {
  if (address == nullptr || length < static_cast<int>(sizeof(sockaddr_in)) || address->sa_family != AF_INET) {
    return next.connect(s, address, length);
  }
  const auto* in = reinterpret_cast<const sockaddr_in*>(address);
  uint8_t bytes[4];
  std::memcpy(bytes, &in->sin_addr, 4);
  const uint16_t port = HostOrder(in->sin_port);
  if (ConnectionOf(s) != nullptr) {
    SetSocketError(WSAEISCONN);
    return SOCKET_ERROR;
  }
  if (Played* server = ServerAt(bytes, port)) {
    if (server->connects++ < server->file.refuseFirst) return Refuse(*server, s);
    const bool nonBlocking = ForgetNonBlocking(s);
    connections.push_back({s, std::make_unique<PlayedConnection>(server->file, Now(), nbwire::UtcMs()), nonBlocking, WhereOf(*server)});
    if (!nonBlocking) return 0;
    // As Windows' own connect on a non-blocking socket: under way, then
    // writable at the next select with SO_ERROR 0.
    SetSocketError(WSAEWOULDBLOCK);
    return SOCKET_ERROR;
  }
  const std::string* name = NameAt(bytes);
  if (name == nullptr) return next.connect(s, address, length);
  // Another port of a played name: the name's real address, as without
  // the played server.
  const hostent* real = next.gethostbyname(name->c_str());
  if (real == nullptr || real->h_addr_list == nullptr || real->h_addr_list[0] == nullptr || real->h_length < 4) {
    return SOCKET_ERROR;  // with the lookup's error
  }
  sockaddr_in there = *in;
  std::memcpy(&there.sin_addr, real->h_addr_list[0], 4);
  return next.connect(s, reinterpret_cast<const sockaddr*>(&there), sizeof there);
}

// A played connect's SO_ERROR: 0, or WSAECONNREFUSED for one refused.
int WINAPI ServerGetsockopt(SOCKET s, int level, int option, char* value, int* length) {
  if ((ConnectionOf(s) == nullptr && !Refused(s)) || level != SOL_SOCKET || option != SO_ERROR) {
    return next.getsockopt(s, level, option, value, length);
  }
  if (value == nullptr || length == nullptr || *length < static_cast<int>(sizeof(int))) {
    SetSocketError(WSAEFAULT);
    return SOCKET_ERROR;
  }
  const int error = Refused(s) ? WSAECONNREFUSED : 0;
  std::memcpy(value, &error, sizeof error);
  *length = sizeof error;
  return 0;
}

int WINAPI ServerIoctlsocket(SOCKET s, long command, u_long* argument) {
  Connection* c = ConnectionOf(s);
  if (c == nullptr) {
    const int result = next.ioctlsocket(s, command, argument);
    if (result == 0 && static_cast<u_long>(command) == FIONBIO) {
      ForgetNonBlocking(s);
      if (*argument != 0) nonBlockingSockets.push_back(s);
    }
    return result;
  }
  if (argument == nullptr) {
    SetSocketError(WSAEFAULT);
    return SOCKET_ERROR;
  }
  switch (static_cast<u_long>(command)) {
    case FIONBIO: c->nonBlocking = *argument != 0; return 0;
    case FIONREAD: *argument = static_cast<u_long>(c->played->waiting(Now())); return 0;
    case SIOCATMARK: *argument = TRUE; return 0;  // a played server sends no urgent data
    default: SetSocketError(WSAEINVAL); return SOCKET_ERROR;
  }
}

bool HasPlayed(const fd_set* set) {
  if (set == nullptr) return false;
  for (u_int k = 0; k < set->fd_count; ++k) {
    if (ConnectionOf(set->fd_array[k]) != nullptr || Refused(set->fd_array[k])) return true;
  }
  return false;
}

// The sockets of `set` that are not played (an empty set for none).
fd_set SystemPart(const fd_set* set, bool& any) {
  fd_set part;
  part.fd_count = 0;
  for (u_int k = 0; set != nullptr && k < set->fd_count; ++k) {
    const SOCKET s = set->fd_array[k];
    if (ConnectionOf(s) == nullptr && !Refused(s)) part.fd_array[part.fd_count++] = s;
  }
  any = any || part.fd_count > 0;
  return part;
}

void Add(fd_set& set, SOCKET s) {
  if (set.fd_count < FD_SETSIZE) set.fd_array[set.fd_count++] = s;
}

// Looks once: the ready sockets go into `ready`, their number is returned
// (SOCKET_ERROR when the look at the system's sockets failed).
int Look(const fd_set* asked[3], fd_set ready[3], bool& system, Millis now) {
  int count = 0;
  system = false;
  fd_set systemPart[3];
  for (int kind = 0; kind < 3; ++kind) {
    ready[kind].fd_count = 0;
    systemPart[kind] = SystemPart(asked[kind], system);
    for (u_int k = 0; asked[kind] != nullptr && k < asked[kind]->fd_count; ++k) {
      const SOCKET s = asked[kind]->fd_array[k];
      Connection* c = ConnectionOf(s);
      // A connected socket always takes a send; a played server sends no
      // urgent data; a connect it refused shows among the failed.
      const bool isReady = (c != nullptr && (kind == 1 || (kind == 0 && c->played->readable(now)))) ||
                           (kind == 2 && Refused(s));
      if (isReady) {
        Add(ready[kind], s);
        ++count;
      }
    }
  }
  if (!system) return count;
  timeval noWait = {0, 0};
  const int found = next.select(0, asked[0] ? &systemPart[0] : nullptr, asked[1] ? &systemPart[1] : nullptr,
                                asked[2] ? &systemPart[2] : nullptr, &noWait);
  if (found == SOCKET_ERROR) return SOCKET_ERROR;
  for (int kind = 0; kind < 3; ++kind) {
    for (u_int k = 0; k < systemPart[kind].fd_count; ++k) Add(ready[kind], systemPart[kind].fd_array[k]);
  }
  return count + found;
}

int WINAPI ServerSelect(int n, fd_set* readable, fd_set* writable, fd_set* failed, const PTIMEVAL timeout) {
  if (!HasPlayed(readable) && !HasPlayed(writable) && !HasPlayed(failed)) {
    return next.select(n, readable, writable, failed, timeout);
  }
  const Millis start = Now();
  Millis deadline = kNever;
  if (timeout != nullptr) {
    const long long us = std::max(0LL, static_cast<long long>(timeout->tv_sec) * 1000000 + timeout->tv_usec);
    // The clock counts whole milliseconds: one more, so that the wait is
    // never shorter than asked.
    deadline = start + static_cast<Millis>((us + 999) / 1000) + 1;
  }
  const fd_set* asked[3] = {readable, writable, failed};
  fd_set* out[3] = {readable, writable, failed};
  for (;;) {
    const Millis now = Now();
    fd_set ready[3];
    bool system = false;
    const int count = Look(asked, ready, system, now);
    if (count == SOCKET_ERROR) return SOCKET_ERROR;
    if (count > 0 || now >= deadline) {
      for (int kind = 0; kind < 3; ++kind) {
        if (out[kind] != nullptr) *out[kind] = ready[kind];
      }
      return count;
    }
    // Until the time-out, the next thing a played server does, or the
    // next look at the system's sockets.
    Millis wake = std::min(deadline, system ? now + kSystemPollMs : kNever);
    for (u_int k = 0; readable != nullptr && k < readable->fd_count; ++k) {
      if (const Connection* c = ConnectionOf(readable->fd_array[k])) wake = std::min(wake, c->played->nextChange());
    }
    Sleep(static_cast<DWORD>(std::min<Millis>(wake > now ? wake - now : 0, kLongestSleepMs)));
  }
}

int WINAPI ServerRecv(SOCKET s, char* buffer, int length, int flags) {
  Connection* c = ConnectionOf(s);
  if (c == nullptr) return next.recv(s, buffer, length, flags);
  if (length < 0 || (buffer == nullptr && length > 0)) {
    SetSocketError(WSAEFAULT);
    return SOCKET_ERROR;
  }
  for (;;) {
    const Millis now = Now();
    std::string bytes;
    const PlayedConnection::Received received =
        c->played->receive(static_cast<size_t>(length), (flags & MSG_PEEK) != 0, now, bytes);
    PassNotes(*c);
    switch (received) {
      case PlayedConnection::Received::Bytes:
        std::memcpy(buffer, bytes.data(), bytes.size());
        return static_cast<int>(bytes.size());
      case PlayedConnection::Received::End:
        return 0;
      case PlayedConnection::Received::Reset:
        SetSocketError(WSAECONNRESET);
        return SOCKET_ERROR;
      case PlayedConnection::Received::Nothing:
        break;
    }
    if (c->nonBlocking) {
      SetSocketError(WSAEWOULDBLOCK);
      return SOCKET_ERROR;
    }
    // A blocking receive waits for the server, for ever if it never sends.
    const Millis due = c->played->nextChange();
    Sleep(static_cast<DWORD>(std::min<Millis>(due > now ? due - now : 0, kLongestSleepMs)));
  }
}

int WINAPI ServerSend(SOCKET s, const char* buffer, int length, int flags) {
  Connection* c = ConnectionOf(s);
  if (c == nullptr) return next.send(s, buffer, length, flags);
  if (length < 0 || (buffer == nullptr && length > 0)) {
    SetSocketError(WSAEFAULT);
    return SOCKET_ERROR;
  }
  const bool sent = c->played->send(std::string(buffer, static_cast<size_t>(length)), Now());
  PassNotes(*c);
  if (!sent) {
    SetSocketError(WSAECONNRESET);
    return SOCKET_ERROR;
  }
  return length;
}

int WINAPI ServerClosesocket(SOCKET s) {
  const auto c = std::find_if(connections.begin(), connections.end(),
                              [s](const Connection& each) { return each.socket == s; });
  if (c != connections.end()) connections.erase(c);
  ForgetNonBlocking(s);
  refusedSockets.erase(std::remove(refusedSockets.begin(), refusedSockets.end(), s), refusedSockets.end());
  return next.closesocket(s);  // the socket the plug-in made, never connected
}

}  // namespace

void PlayServer(const ServerAddress& address, const nbdevice::DeviceFile& file) {
  StopServer(address);
  uint8_t bytes[4];
  if (!DottedAddress(address.host, bytes) && !AddressOf(address.host, bytes) &&
      names.size() < kMaxPlayedNames) {
    names.push_back(address.host);
  }
  servers.push_back({address, file});
}

void StopServer(const ServerAddress& address) {
  servers.erase(std::remove_if(servers.begin(), servers.end(),
                               [&](const Played& s) {
                                 return s.address.port == address.port && SameHost(s.address.host, address.host);
                               }),
                servers.end());
}

void StopServers() { servers.clear(); }

bool ServersActive() { return !servers.empty() || !connections.empty(); }

WireLayer ServerLayer() {
  WireCalls calls;
  calls.gethostbyname = &ServerGethostbyname;
  calls.getsockopt = &ServerGetsockopt;
  calls.connect = &ServerConnect;
  calls.ioctlsocket = &ServerIoctlsocket;
  calls.select = &ServerSelect;
  calls.recv = &ServerRecv;
  calls.send = &ServerSend;
  calls.closesocket = &ServerClosesocket;
  return {calls, &next};
}

}  // namespace nbwire

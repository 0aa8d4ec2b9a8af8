#include <winsock.h>

#include "spy_hooks.h"

#include <map>
#include <string>
#include <vector>

#include "wire/port_model.h"
#include "wire/played_notes.h"
#include "wire/port_names.h"
#include "wire/spy_log.h"

namespace nbspy {
namespace {

// A handle the plug-in opened.
struct Channel {
  std::string where;  // "COM1", "file"
  std::string name;   // as the plug-in gave it
  bool port = false;
  uint64_t read = 0, written = 0;  // bytes, for files
  double byteMs = 0;               // a character's time at the port's settings
  std::string settings, timeouts, queues;  // as last logged: each shows once per change
};

struct State {
  explicit State(std::FILE* file) : out(file), joiner([this](const std::string& line) { write(line); }) {
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
  }
  void write(const std::string& line) {
    writeRepeats();
    lastEvent.clear();
    std::fputs(line.c_str(), out);
    std::fputc('\n', out);
    std::fflush(out);
  }
  void writeRepeats() {
    if (repeats == 0) return;
    const int times = repeats;
    repeats = 0;
    write(EventLine(repeatMs, repeatWhere,
                    times == 1 ? repeatWhat : EventText(MakeEvent(EventKind::Repeated, std::to_string(times)))));
  }
  double ms() const {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart - start.QuadPart) /
           static_cast<double>(frequency.QuadPart);
  }
  // Events the same as the line before them (a poll that fails each time)
  // are counted, and the count shown once something else comes.
  void event(double at, const std::string& where, const Event& e) {
    const std::string what = EventText(e);
    joiner.flush();
    const std::string key = where + '\n' + what;
    if (key == lastEvent) {
      ++repeats;
      repeatMs = at;
      repeatWhere = where;
      repeatWhat = what;
      return;
    }
    write(EventLine(at, where, what));
    lastEvent = key;
  }
  // An event that shows a state (settings, time-outs, queues): once per change.
  void eventOnChange(std::string& last, double at, const std::string& where, const Event& e) {
    const std::string what = EventText(e);
    if (what == last) return;
    last = what;
    event(at, where, e);
  }
  // Writes what is held back: the open line of reads, repeats not shown.
  void finish() {
    joiner.flush();
    writeRepeats();
  }
  void data(double at, const std::string& where, char direction, const std::string& bytes,
            const std::string& note = std::string()) {
    joiner.flush();
    write(DataLine(at, where, direction, bytes, note));
  }
  Channel* channel(HANDLE handle) {
    const auto found = handles.find(handle);
    return found == handles.end() ? nullptr : &found->second;
  }

  std::FILE* out;
  LARGE_INTEGER frequency, start;
  std::map<HANDLE, Channel> handles;
  std::map<SOCKET, std::string> connecting;  // connects under way, to where
  ReadJoiner joiner;
  std::string lastEvent;  // where and what of the last line, when an event
  int repeats = 0;
  double repeatMs = 0;
  std::string repeatWhere, repeatWhat;
};

// Of the spy in use: its Spy makes and ends it (a plain pointer, which no
// destructor at process exit touches).
State* state = nullptr;
const char* const kConnection = kConnectionWhere;

// The calls each spy function passes on to.
nbwire::WireCalls next;

// Makes the call, then has `log` see its result, the error it left and
// when it began; the plug-in then finds the last error as the call left it.
template <class Call, class Log>
auto Observe(Call call, Log log) {
  const double start = state->ms();
  const auto result = call();
  const DWORD error = GetLastError();
  log(result, error, start);
  SetLastError(error);
  return result;
}

Outcome CallOutcome(bool ok, DWORD error) { return ok ? Succeeded() : FailedWith(error); }

Event FailedCall(const std::string& what, DWORD error) { return MakeEvent(EventKind::Failed, what, FailedWith(error)); }

// The log of a call that only shows when it fails.
template <class Result>
auto OnFailure(const std::string& where, const std::string& what, Result failed) {
  return [where, what, failed](Result result, DWORD error, double at) {
    if (result == failed) state->event(at, where, FailedCall(what, error));
  };
}

// The same for calls on a handle the plug-in opened.
auto OnPortFailure(HANDLE handle, const std::string& what) {
  return [handle, what](BOOL ok, DWORD error, double at) {
    const Channel* channel = state->channel(handle);
    if (!ok && channel) state->event(at, channel->where, FailedCall(what, error));
  };
}

std::string Dotted(const unsigned char* address) {
  return std::to_string(address[0]) + "." + std::to_string(address[1]) + "." +
         std::to_string(address[2]) + "." + std::to_string(address[3]);
}

const char* AccessText(DWORD access) {
  const bool read = access & GENERIC_READ, write = access & GENERIC_WRITE;
  return read && write ? " to read and write" : write ? " to write" : " to read";
}

HANDLE WINAPI SpyCreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                             DWORD creation, DWORD flags, HANDLE templateFile) {
  return Observe([&] { return next.CreateFileA(name, access, share, security, creation, flags, templateFile); },
                 [&](HANDLE handle, DWORD error, double at) {
                   Channel channel;
                   channel.name = name ? name : "";
                   channel.where = nbwire::PortOfFileName(channel.name);
                   channel.port = !channel.where.empty();
                   if (!channel.port) channel.where = "file";
                   const bool ok = handle != INVALID_HANDLE_VALUE;
                   Event opened = MakeEvent(EventKind::Open, channel.name, CallOutcome(ok, error));
                   if (!channel.port) opened.access = AccessText(access);
                   state->event(at, channel.where, opened);
                   if (ok) state->handles[handle] = channel;
                 });
}

// The bytes still waiting in a port the plug-in closes, which the close
// drops: taken out for the log (a device made from it sends them too, so a
// byte count on replay is what it was), with the port's time-outs as they
// were and the last error as the plug-in left it.
void LogNeverRead(HANDLE handle, const Channel& channel) {
  const DWORD lastError = GetLastError();
  DWORD errors = 0;
  COMSTAT status{};
  COMMTIMEOUTS own{};
  if (next.ClearCommError(handle, &errors, &status) && status.cbInQue > 0 &&
      next.GetCommTimeouts(handle, &own)) {
    COMMTIMEOUTS atOnce{MAXDWORD, 0, 0, own.WriteTotalTimeoutMultiplier,
                        own.WriteTotalTimeoutConstant};
    std::string bytes(status.cbInQue, '\0');
    DWORD read = 0;
    if (next.SetCommTimeouts(handle, &atOnce)) {
      if (!next.ReadFile(handle, &bytes[0], status.cbInQue, &read, nullptr)) read = 0;
      next.SetCommTimeouts(handle, &own);
    }
    bytes.resize(read);
    if (!bytes.empty()) {
      state->joiner.neverRead(reinterpret_cast<uintptr_t>(handle), channel.where, bytes, state->ms());
    }
  }
  SetLastError(lastError);
}

BOOL WINAPI SpyCloseHandle(HANDLE handle) {
  if (state->channel(handle) == nullptr) return next.CloseHandle(handle);
  if (state->channel(handle)->port) LogNeverRead(handle, *state->channel(handle));
  return Observe([&] { return next.CloseHandle(handle); }, [&](BOOL ok, DWORD error, double at) {
    const Channel channel = *state->channel(handle);
    state->joiner.forget(reinterpret_cast<uintptr_t>(handle));
    state->handles.erase(handle);
    Event closed = MakeEvent(EventKind::Close, channel.port ? std::string() : channel.name, CallOutcome(ok, error));
    if (!channel.port) {
      closed.written = channel.written;
      closed.read = channel.read;
    }
    state->event(at, channel.where, closed);
  });
}

BOOL WINAPI SpyReadFile(HANDLE handle, LPVOID buffer, DWORD count, LPDWORD read, LPOVERLAPPED overlapped) {
  return Observe([&] { return next.ReadFile(handle, buffer, count, read, overlapped); },
                 [&](BOOL ok, DWORD error, double at) {
                   Channel* channel = state->channel(handle);
                   if (channel == nullptr) return;
                   const DWORD n = ok && read ? *read : 0;
                   if (!ok) {
                     state->event(at, channel->where, FailedCall("read of " + std::to_string(count) + " bytes", error));
                   } else if (!channel->port) {
                     channel->read += n;
                   } else {
                     state->joiner.read(reinterpret_cast<uintptr_t>(handle), channel->where,
                                        std::string(static_cast<const char*>(buffer), n), count, at,
                                        state->ms() - at);
                   }
                 });
}

BOOL WINAPI SpyWriteFile(HANDLE handle, LPCVOID buffer, DWORD count, LPDWORD written,
                         LPOVERLAPPED overlapped) {
  return Observe([&] { return next.WriteFile(handle, buffer, count, written, overlapped); },
                 [&](BOOL ok, DWORD error, double at) {
                   Channel* channel = state->channel(handle);
                   if (channel == nullptr) return;
                   const DWORD n = ok && written ? *written : 0;
                   if (!ok) {
                     state->event(at, channel->where, FailedCall("write of " + std::to_string(count) + " bytes", error));
                   } else if (!channel->port) {
                     channel->written += n;
                   } else {
                     state->data(at, channel->where, '>',
                                 std::string(static_cast<const char*>(buffer), count),
                                 n < count ? "(" + std::to_string(n) + " taken)" : "");
                     // The device hears the request once its last byte is on the line.
                     state->joiner.wrote(reinterpret_cast<uintptr_t>(handle), at + n * channel->byteMs);
                   }
                 });
}

BOOL WINAPI SpyGetCommState(HANDLE handle, LPDCB dcb) {
  return Observe([&] { return next.GetCommState(handle, dcb); },
                 OnPortFailure(handle, "reading the settings"));
}

BOOL WINAPI SpySetCommState(HANDLE handle, LPDCB dcb) {
  return Observe([&] { return next.SetCommState(handle, dcb); }, [&](BOOL ok, DWORD error, double at) {
    Channel* channel = state->channel(handle);
    if (channel == nullptr || dcb == nullptr) return;
    LineSettings s;
    s.baud = dcb->BaudRate;
    s.byteSize = dcb->ByteSize;
    s.parity = dcb->Parity;
    s.stopBits = dcb->StopBits;
    s.ctsFlow = dcb->fOutxCtsFlow;
    s.dsrFlow = dcb->fOutxDsrFlow;
    s.dtrControl = dcb->fDtrControl;
    s.rtsControl = dcb->fRtsControl;
    s.xonXoffOut = dcb->fOutX;
    s.xonXoffIn = dcb->fInX;
    if (ok) {
      channel->byteMs = nbport::ByteMicroseconds(dcb->BaudRate, dcb->ByteSize, dcb->Parity, dcb->StopBits) / 1000.0;
      state->joiner.setByteTime(reinterpret_cast<uintptr_t>(handle), channel->byteMs);
    }
    state->eventOnChange(channel->settings, at, channel->where, SettingsEvent(s, CallOutcome(ok, error)));
  });
}

BOOL WINAPI SpyGetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) {
  return Observe([&] { return next.GetCommTimeouts(handle, timeouts); },
                 OnPortFailure(handle, "reading the time-outs"));
}

BOOL WINAPI SpySetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS t) {
  return Observe([&] { return next.SetCommTimeouts(handle, t); }, [&](BOOL ok, DWORD error, double at) {
    Channel* channel = state->channel(handle);
    if (channel == nullptr || t == nullptr) return;
    state->eventOnChange(channel->timeouts, at, channel->where,
                         TimeoutsEvent(t->ReadIntervalTimeout, t->ReadTotalTimeoutMultiplier,
                                       t->ReadTotalTimeoutConstant, t->WriteTotalTimeoutMultiplier,
                                       t->WriteTotalTimeoutConstant, CallOutcome(ok, error)));
  });
}

BOOL WINAPI SpyClearCommError(HANDLE handle, LPDWORD errors, LPCOMSTAT status) {
  return Observe([&] { return next.ClearCommError(handle, errors, status); },
                 [&](BOOL ok, DWORD error, double at) {
                   const Channel* channel = state->channel(handle);
                   if (channel == nullptr) return;
                   if (!ok) {
                     state->event(at, channel->where, FailedCall("counting the bytes waiting", error));
                     return;
                   }
                   if (errors != nullptr && *errors != 0) {
                     std::string names;
                     const std::pair<DWORD, const char*> kErrors[] = {
                         {CE_RXOVER, "receive queue overflow"}, {CE_OVERRUN, "overrun"},
                         {CE_RXPARITY, "parity"},              {CE_FRAME, "framing"},
                         {CE_BREAK, "break"},                  {CE_TXFULL, "transmit queue full"}};
                     for (const auto& e : kErrors) {
                       if (*errors & e.first) names += std::string(names.empty() ? "" : ", ") + e.second;
                     }
                     state->event(at, channel->where, MakeEvent(EventKind::LineErrors, names));
                   }
                   if (status != nullptr) {
                     state->joiner.polled(reinterpret_cast<uintptr_t>(handle), status->cbInQue, at);
                   }
                 });
}

BOOL WINAPI SpySetupComm(HANDLE handle, DWORD receive, DWORD transmit) {
  return Observe([&] { return next.SetupComm(handle, receive, transmit); },
                 [&](BOOL ok, DWORD error, double at) {
                   Channel* channel = state->channel(handle);
                   if (channel == nullptr) return;
                   state->eventOnChange(channel->queues, at, channel->where,
                                        MakeEvent(EventKind::Queues,
                                                  "receive " + std::to_string(receive) + ", transmit " +
                                                      std::to_string(transmit),
                                                  CallOutcome(ok, error)));
                 });
}

BOOL WINAPI SpyGetCommProperties(HANDLE handle, LPCOMMPROP properties) {
  return Observe([&] { return next.GetCommProperties(handle, properties); },
                 OnPortFailure(handle, "reading the queue sizes"));
}

int WINAPI SpyWSAStartup(WORD version, LPWSADATA data) {
  // It returns its error instead of leaving it.
  return Observe([&] { return next.WSAStartup(version, data); }, [&](int result, DWORD, double at) {
    if (result != 0) state->event(at, kConnection, FailedCall("network start", result));
  });
}

int WINAPI SpyWSACleanup() {
  return Observe([&] { return next.WSACleanup(); }, OnFailure(kConnection, "network end", SOCKET_ERROR));
}

hostent* WINAPI SpyGethostbyname(const char* name) {
  return Observe([&] { return next.gethostbyname(name); }, [&](hostent* entry, DWORD error, double at) {
    const bool found = entry && entry->h_addr_list && entry->h_addr_list[0] && entry->h_length >= 4;
    Event find = MakeEvent(EventKind::Find, name ? name : "", CallOutcome(found, error));
    if (found) find.address = Dotted(reinterpret_cast<unsigned char*>(entry->h_addr_list[0]));
    state->event(at, kConnection, find);
  });
}

servent* WINAPI SpyGetservbyname(const char* name, const char* protocol) {
  return Observe([&] { return next.getservbyname(name, protocol); },
                 OnFailure<servent*>(kConnection, "finding the service", nullptr));
}

int WINAPI SpyGethostname(char* name, int length) {
  return Observe([&] { return next.gethostname(name, length); },
                 OnFailure(kConnection, "this machine's name", SOCKET_ERROR));
}

SOCKET WINAPI SpySocket(int family, int type, int protocol) {
  return Observe([&] { return next.socket(family, type, protocol); },
                 OnFailure(kConnection, "socket", INVALID_SOCKET));
}

int WINAPI SpySetsockopt(SOCKET s, int level, int option, const char* value, int length) {
  return Observe([&] { return next.setsockopt(s, level, option, value, length); },
                 OnFailure(kConnection, "socket option", SOCKET_ERROR));
}

int WINAPI SpyConnect(SOCKET s, const sockaddr* address, int length) {
  return Observe([&] { return next.connect(s, address, length); }, [&](int result, DWORD error, double at) {
    std::string peer = "?";
    if (address != nullptr && length >= static_cast<int>(sizeof(sockaddr_in))) {
      const auto* in = reinterpret_cast<const sockaddr_in*>(address);
      const auto* port = reinterpret_cast<const unsigned char*>(&in->sin_port);
      peer = Dotted(reinterpret_cast<const unsigned char*>(&in->sin_addr)) + ":" +
             std::to_string(port[0] * 256 + port[1]);
    }
    if (result == SOCKET_ERROR && error == WSAEWOULDBLOCK) {
      state->connecting[s] = peer;  // its outcome shows when it ends (ConnectEnded)
    } else {
      state->event(at, kConnection, MakeEvent(EventKind::Connect, peer, CallOutcome(result != SOCKET_ERROR, error)));
    }
  });
}

// A connect under way ends when select finds its socket writable and not
// failed, or when the plug-in reads its error (SO_ERROR), whichever comes
// first; a close before either gives it up.
void ConnectEnded(SOCKET s, double at, const Outcome& outcome) {
  const auto pending = state->connecting.find(s);
  if (pending == state->connecting.end()) return;
  state->event(at, kConnection, MakeEvent(EventKind::Connect, pending->second, outcome));
  state->connecting.erase(pending);
}

bool InSet(const fd_set* set, SOCKET s) {
  for (u_int k = 0; set != nullptr && k < set->fd_count; ++k) {
    if (set->fd_array[k] == s) return true;
  }
  return false;
}

int WINAPI SpyGetsockopt(SOCKET s, int level, int option, char* value, int* length) {
  return Observe([&] { return next.getsockopt(s, level, option, value, length); },
                 [&](int result, DWORD error, double at) {
                   if (option != SO_ERROR || result == SOCKET_ERROR) {
                     return OnFailure(kConnection, "socket option", SOCKET_ERROR)(result, error, at);
                   }
                   const DWORD code = *reinterpret_cast<DWORD*>(value);
                   ConnectEnded(s, at, CallOutcome(code == 0, code));
                 });
}

int WINAPI SpySelect(int n, fd_set* readable, fd_set* writable, fd_set* failed, const PTIMEVAL timeout) {
  return Observe([&] { return next.select(n, readable, writable, failed, timeout); },
                 [&](int result, DWORD error, double at) {
                   const long ms = timeout ? timeout->tv_sec * 1000 + timeout->tv_usec / 1000 : -1;
                   const std::string what = readable ? "to receive" : failed ? "to connect" : "to send";
                   for (u_int k = 0; result > 0 && writable != nullptr && k < writable->fd_count; ++k) {
                     if (!InSet(failed, writable->fd_array[k])) ConnectEnded(writable->fd_array[k], at, Succeeded());
                   }
                   if (result == SOCKET_ERROR) {
                     state->event(at, kConnection, FailedCall("wait " + what, error));
                   } else if (result == 0 && ms != 0) {  // a poll finding nothing is no news
                     state->event(at, kConnection, MakeEvent(EventKind::Waited, std::to_string(ms) + " ms " + what));
                   }
                 });
}

int WINAPI SpySend(SOCKET s, const char* buffer, int length, int flags) {
  return Observe([&] { return next.send(s, buffer, length, flags); }, [&](int result, DWORD error, double at) {
    if (result == SOCKET_ERROR) {
      state->event(at, kConnection, FailedCall("send of " + std::to_string(length) + " bytes", error));
    } else {
      state->data(at, kConnection, '>', std::string(buffer, length > 0 ? length : 0),
                  result < length ? "(" + std::to_string(result) + " taken)" : "");
      state->joiner.wrote(s, state->ms());
    }
  });
}

int WINAPI SpyRecv(SOCKET s, char* buffer, int length, int flags) {
  return Observe([&] { return next.recv(s, buffer, length, flags); }, [&](int result, DWORD error, double at) {
    if (result == SOCKET_ERROR) {
      state->event(at, kConnection, FailedCall("receive", error));
    } else if (result == 0) {
      state->data(state->ms(), kConnection, '<', std::string(), kPeerClosed);
    } else {  // a receive takes what has come: less than asked is no time-out
      state->joiner.read(s, kConnection, std::string(buffer, result), result, at, state->ms() - at);
    }
  });
}

int WINAPI SpyClosesocket(SOCKET s) {
  return Observe([&] { return next.closesocket(s); }, [&](int result, DWORD error, double at) {
    ConnectEnded(s, at, {Outcome::GivenUp, 0});
    state->joiner.forget(s);
    state->event(at, kConnection, MakeEvent(EventKind::Close, std::string(), CallOutcome(result != SOCKET_ERROR, error)));
  });
}

int WINAPI SpyIoctlsocket(SOCKET s, long command, u_long* argument) {
  return Observe([&] { return next.ioctlsocket(s, command, argument); },
                 OnFailure(kConnection, "socket mode", SOCKET_ERROR));
}

// What a played device noted: on its port's lane, or the connection's.
void PlayedNoted(const std::string& where, const std::string& text) {
  if (!state) return;
  const std::string port = nbwire::NamedPort(where);
  state->event(state->ms(), port.empty() ? kConnection : port, MakeEvent(EventKind::Played, text));
}

}  // namespace

Spy::Spy(std::FILE* out) {
  state = new State(out);
  nbwire::SetPlayedNoteSink(&PlayedNoted);
  // A file that has lines keeps its header: the spy adds to it.
  const bool fresh = std::fseek(out, 0, SEEK_END) != 0 || std::ftell(out) <= 0;
  if (fresh) state->write(kLogHeader);
}

Spy::~Spy() {
  nbwire::SetPlayedNoteSink(nullptr);
  state->finish();
  delete state;
  state = nullptr;
}

void Spy::Flush() {
  if (!state) return;
  if (state->out == stdout) state->finish();
  state->writeRepeats();
  state->joiner.actionEnded();
}

void Spy::Finish() {
  if (state) state->finish();
}

nbwire::WireLayer SpyLayer() {
  nbwire::WireCalls calls;
  calls.CreateFileA = &SpyCreateFileA;
  calls.CloseHandle = &SpyCloseHandle;
  calls.ReadFile = &SpyReadFile;
  calls.WriteFile = &SpyWriteFile;
  calls.GetCommState = &SpyGetCommState;
  calls.SetCommState = &SpySetCommState;
  calls.GetCommTimeouts = &SpyGetCommTimeouts;
  calls.SetCommTimeouts = &SpySetCommTimeouts;
  calls.ClearCommError = &SpyClearCommError;
  calls.SetupComm = &SpySetupComm;
  calls.GetCommProperties = &SpyGetCommProperties;
  calls.WSAStartup = &SpyWSAStartup;
  calls.WSACleanup = &SpyWSACleanup;
  calls.gethostbyname = &SpyGethostbyname;
  calls.getservbyname = &SpyGetservbyname;
  calls.gethostname = &SpyGethostname;
  calls.socket = &SpySocket;
  calls.setsockopt = &SpySetsockopt;
  calls.getsockopt = &SpyGetsockopt;
  calls.connect = &SpyConnect;
  calls.ioctlsocket = &SpyIoctlsocket;
  calls.select = &SpySelect;
  calls.send = &SpySend;
  calls.recv = &SpyRecv;
  calls.closesocket = &SpyClosesocket;
  return {calls, &next};
}

}  // namespace nbspy

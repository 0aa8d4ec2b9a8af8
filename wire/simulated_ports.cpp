#include "simulated_ports.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "wire/port_model.h"
#include "wire/port_names.h"
#include "wire/wall_clock.h"

namespace nbdevice {
namespace {

// The queues a port has at first; the receive queue is never smaller.
constexpr DWORD kQueueBytes = nbport::kFreshQueueBytes;

struct Port {
  explicit Port(const DeviceFile& file) : device(file) {
    device.setQueueSize(kQueueBytes);
    nbport::SetFresh(dcb);
    setLine();
  }
  // The device's bytes reach the port at the rate and framing set.
  void setLine() {
    device.setByteTime(nbport::ByteMicroseconds(dcb.BaudRate, dcb.ByteSize, dcb.Parity, dcb.StopBits));
    device.setRate(dcb.BaudRate);
  }

  Device device;
  HANDLE handle = nullptr;  // while open: an event of our own, unique in the process
  DCB dcb{};
  COMMTIMEOUTS timeouts{};
  DWORD receiveQueue = kQueueBytes, transmitQueue = kQueueBytes;
};

// The ports played, by name ("COM12"), and those open: a port no longer
// played stays open until it is closed.
std::map<std::string, std::shared_ptr<Port>> ports;
std::vector<std::shared_ptr<Port>> openPorts;

// The calls passed on for names and handles that are not simulated ports.
nbwire::WireCalls next;

Millis Now() { return nbwire::WallClockMs(); }

Port* PortOf(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
  for (const auto& port : openPorts) {
    if (port->handle == handle) return port.get();
  }
  return nullptr;
}

// Runs `body` for a simulated port: it returns the call's Windows error (0
// for success). A failure leaves its error for GetLastError; a success
// leaves what was there before, as a real port's calls do.
template <class Body>
BOOL Serve(Body body) {
  const DWORD before = GetLastError();
  const DWORD error = body();
  SetLastError(error != 0 ? error : before);
  return error == 0;
}

// What a read of `count` bytes takes, waiting as the port's time-outs say.
std::string Read(Port& port, DWORD count) {
  const COMMTIMEOUTS& t = port.timeouts;
  const nbport::ReadWait wait = nbport::ReadWaitOf(
      t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant, count);
  Device& device = port.device;
  const Millis start = Now();
  std::string got;
  const auto takeWaiting = [&] {
    device.advance(Now());
    const size_t before = got.size();
    got += device.take(count - got.size());
    return got.size() > before;
  };
  takeWaiting();
  if (got.size() == count) return got;

  if (wait.atOnce || (wait.firstBytes && !got.empty())) return got;
  // At most (2^32 - 1)^2 + 2^32 - 1, which fits; the sum with now may not.
  const Millis deadline =
      wait.totalMs == 0 ? kNever : wait.totalMs > kNever - start ? kNever : start + wait.totalMs;
  // The interval time-out counts between bytes, from the first one.
  Millis lastByte = got.empty() ? kNever : start;
  while (got.size() < count && !(wait.firstBytes && !got.empty())) {
    const Millis now = Now();
    const Millis gapEnds =
        wait.intervalMs != 0 && lastByte != kNever ? lastByte + wait.intervalMs : kNever;
    if (now >= deadline || now >= gapEnds) break;
    // Nothing to come and no deadline: a real port waits for ever too.
    const Millis until = std::min({deadline, gapEnds, device.nextOutput()});
    Sleep(static_cast<DWORD>(std::min<Millis>(until > now ? until - now : 0, 1000)));
    if (takeWaiting()) lastByte = Now();
  }
  return got;
}

HANDLE WINAPI SimCreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                             DWORD creation, DWORD flags, HANDLE templateFile) {
  const auto entry = name ? ports.find(nbwire::PortOfFileName(name)) : ports.end();
  if (entry == ports.end()) {
    return next.CreateFileA(name, access, share, security, creation, flags, templateFile);
  }
  Port& port = *entry->second;
  HANDLE handle = INVALID_HANDLE_VALUE;
  Serve([&]() -> DWORD {
    if (port.handle != nullptr) return ERROR_ACCESS_DENIED;  // ports are not shared
    if (creation == CREATE_NEW) return ERROR_FILE_EXISTS;
    if (creation < CREATE_NEW || creation > TRUNCATE_EXISTING) return ERROR_INVALID_PARAMETER;
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) return GetLastError();
    port.handle = handle = event;
    port.timeouts = COMMTIMEOUTS{};
    port.device.open(Now());
    openPorts.push_back(entry->second);
    return 0;
  });
  if (handle != INVALID_HANDLE_VALUE) {
    SetLastError(creation == OPEN_ALWAYS || creation == CREATE_ALWAYS ? ERROR_ALREADY_EXISTS : 0);
  }
  return handle;
}

BOOL WINAPI SimCloseHandle(HANDLE handle) {
  Port* port = PortOf(handle);
  if (port == nullptr) return next.CloseHandle(handle);
  return Serve([&]() -> DWORD {
    next.CloseHandle(port->handle);  // the module redirected may be this program
    port->handle = nullptr;
    for (auto open = openPorts.begin(); open != openPorts.end(); ++open) {
      if (open->get() == port) {
        openPorts.erase(open);
        break;
      }
    }
    return 0;
  });
}

BOOL WINAPI SimReadFile(HANDLE handle, LPVOID buffer, DWORD count, LPDWORD read, LPOVERLAPPED overlapped) {
  Port* port = PortOf(handle);
  if (port == nullptr) return next.ReadFile(handle, buffer, count, read, overlapped);
  return Serve([&]() -> DWORD {
    if (read == nullptr || (buffer == nullptr && count > 0)) return ERROR_INVALID_PARAMETER;
    const std::string got = Read(*port, count);
    std::memcpy(buffer, got.data(), got.size());
    *read = static_cast<DWORD>(got.size());
    return 0;
  });
}

BOOL WINAPI SimWriteFile(HANDLE handle, LPCVOID buffer, DWORD count, LPDWORD written,
                         LPOVERLAPPED overlapped) {
  Port* port = PortOf(handle);
  if (port == nullptr) return next.WriteFile(handle, buffer, count, written, overlapped);
  return Serve([&]() -> DWORD {
    if (written == nullptr || (buffer == nullptr && count > 0)) return ERROR_INVALID_PARAMETER;
    const Millis now = Now();
    port->device.advance(now);
    port->device.hear(std::string(static_cast<const char*>(buffer), count), now);
    *written = count;
    return 0;
  });
}

DWORD WINAPI SimGetFileType(HANDLE handle) {
  if (PortOf(handle) == nullptr) return next.GetFileType(handle);
  return FILE_TYPE_CHAR;
}

BOOL WINAPI SimGetCommState(HANDLE handle, LPDCB dcb) {
  Port* port = PortOf(handle);
  if (port == nullptr) return next.GetCommState(handle, dcb);
  return Serve([&]() -> DWORD {
    if (dcb == nullptr) return ERROR_INVALID_PARAMETER;
    *dcb = port->dcb;
    return 0;
  });
}

BOOL WINAPI SimSetCommState(HANDLE handle, LPDCB dcb) {
  Port* port = PortOf(handle);
  if (port == nullptr) return next.SetCommState(handle, dcb);
  return Serve([&]() -> DWORD {
    if (dcb == nullptr ||
        nbport::FramingRefused(dcb->BaudRate, dcb->ByteSize, dcb->Parity, dcb->StopBits)) {
      return ERROR_INVALID_PARAMETER;
    }
    port->dcb = *dcb;
    port->dcb.DCBlength = sizeof(DCB);
    port->setLine();
    return 0;
  });
}

BOOL WINAPI SimGetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) {
  Port* port = PortOf(handle);
  if (port == nullptr) return next.GetCommTimeouts(handle, timeouts);
  return Serve([&]() -> DWORD {
    if (timeouts == nullptr) return ERROR_INVALID_PARAMETER;
    *timeouts = port->timeouts;
    return 0;
  });
}

BOOL WINAPI SimSetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) {
  Port* port = PortOf(handle);
  if (port == nullptr) return next.SetCommTimeouts(handle, timeouts);
  return Serve([&]() -> DWORD {
    if (timeouts == nullptr) return ERROR_INVALID_PARAMETER;
    port->timeouts = *timeouts;
    return 0;
  });
}

BOOL WINAPI SimClearCommError(HANDLE handle, LPDWORD errors, LPCOMSTAT status) {
  Port* port = PortOf(handle);
  if (port == nullptr) return next.ClearCommError(handle, errors, status);
  return Serve([&]() -> DWORD {
    port->device.advance(Now());
    const bool overflow = port->device.takeOverflow();
    if (errors != nullptr) *errors = overflow ? CE_RXOVER : 0;
    if (status != nullptr) {
      *status = COMSTAT{};
      status->cbInQue = static_cast<DWORD>(port->device.waiting());
    }
    return 0;
  });
}

BOOL WINAPI SimSetupComm(HANDLE handle, DWORD receive, DWORD transmit) {
  Port* port = PortOf(handle);
  if (port == nullptr) return next.SetupComm(handle, receive, transmit);
  return Serve([&]() -> DWORD {
    port->receiveQueue = receive;
    port->transmitQueue = transmit;
    // Drivers take the size as advice; a smaller queue than the first one
    // would only lose bytes a real port keeps.
    port->device.setQueueSize(std::max(receive, kQueueBytes));
    return 0;
  });
}

BOOL WINAPI SimGetCommProperties(HANDLE handle, LPCOMMPROP properties) {
  Port* port = PortOf(handle);
  if (port == nullptr) return next.GetCommProperties(handle, properties);
  return Serve([&]() -> DWORD {
    if (properties == nullptr) return ERROR_INVALID_PARAMETER;
    COMMPROP p{};
    p.wPacketLength = sizeof p;
    p.wPacketVersion = 2;
    p.dwServiceMask = SP_SERIALCOMM;
    p.dwMaxBaud = BAUD_USER;
    p.dwProvSubType = PST_RS232;
    p.dwProvCapabilities = PCF_DTRDSR | PCF_RTSCTS | PCF_PARITY_CHECK | PCF_XONXOFF | PCF_SETXCHAR |
                           PCF_TOTALTIMEOUTS | PCF_INTTIMEOUTS;
    p.dwSettableParams = SP_PARITY | SP_BAUD | SP_DATABITS | SP_STOPBITS | SP_HANDSHAKING |
                         SP_PARITY_CHECK;
    p.dwSettableBaud = BAUD_USER;
    p.wSettableData = DATABITS_5 | DATABITS_6 | DATABITS_7 | DATABITS_8;
    p.wSettableStopParity = STOPBITS_10 | STOPBITS_15 | STOPBITS_20 | PARITY_NONE | PARITY_ODD |
                            PARITY_EVEN | PARITY_MARK | PARITY_SPACE;
    p.dwCurrentTxQueue = port->transmitQueue;
    p.dwCurrentRxQueue = port->receiveQueue;
    *properties = p;
    return 0;
  });
}

}  // namespace

void PlayPort(const std::string& port, const DeviceFile& file) {
  ports[port] = std::make_shared<Port>(file);
}

void StopPort(const std::string& port) { ports.erase(port); }

void StopPorts() { ports.clear(); }

bool PortsActive() { return !ports.empty() || !openPorts.empty(); }

nbwire::WireLayer PortLayer() {
  nbwire::WireCalls calls;
  calls.CreateFileA = &SimCreateFileA;
  calls.CloseHandle = &SimCloseHandle;
  calls.ReadFile = &SimReadFile;
  calls.WriteFile = &SimWriteFile;
  calls.GetFileType = &SimGetFileType;
  calls.GetCommState = &SimGetCommState;
  calls.SetCommState = &SimSetCommState;
  calls.GetCommTimeouts = &SimGetCommTimeouts;
  calls.SetCommTimeouts = &SimSetCommTimeouts;
  calls.ClearCommError = &SimClearCommError;
  calls.SetupComm = &SimSetupComm;
  calls.GetCommProperties = &SimGetCommProperties;
  return {calls, &next};
}

}  // namespace nbdevice

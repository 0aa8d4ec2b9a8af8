#include "simulated_ports.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "wire/bounds.h"
#include "wire/played_notes.h"
#include "wire/port_model.h"
#include "wire/port_names.h"
#include "wire/wall_clock.h"
#include "wire/windows_port.h"

namespace nbdevice {
namespace {

// The queues a port has at first; the receive queue is never smaller.
constexpr DWORD kQueueBytes = nbport::kFreshQueueBytes;

struct Port {
  Port(const std::string& portName, const DeviceFile& file) : name(portName), device(file) {
    device.setQueueSize(kQueueBytes);
    nbport::SetFresh(dcb);
    setLine();
  }
  // The device's bytes reach the port at the rate and framing set.
  void setLine() {
    device.setByteTime(nbport::ByteMicroseconds(dcb.BaudRate, dcb.ByteSize, dcb.Parity, dcb.StopBits));
    device.setRate(dcb.BaudRate);
  }
  // Brings the device up to `now` and tells the port whether it is there.
  void update(Millis now) {
    device.advance(now);
    for (const DeviceNote& note : device.takeNotes()) nbwire::PlayedNote(name, note.text);
    if (device.unplugged() && windows.present()) {
      windows.unplug(device.removalError() != 0 ? device.removalError() : nbport::kRemovedError);
    } else if (!device.unplugged() && !windows.present()) {
      windows.plugIn();
    }
  }

  // The device sees the host's DTR and RTS as the port drives them now.
  void driveLines(Millis now) {
    const nbport::HostLines lines = windows.hostLines();
    device.hostLines(lines.dtr, lines.rts, now);
  }

  std::string name;
  Device device;
  nbport::WindowsPort windows;
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

// The wall clock as the port model waits on it. A wait with nothing to end
// it is not made: the host is single-threaded, so nothing can come while it
// waits in a call, and a real port would hold it for ever. A long wait that
// has an end is waited as a real port waits it (nbrun's --max-seconds ends
// a run it holds).
class WallClock : public nbport::PortClock {
 public:
  nbport::Millis now() override { return Now(); }
  bool waitUntil(nbport::Millis at) override {
    if (at == nbport::kNever) return false;
    for (Millis now = Now(); now < at; now = Now()) {
      Sleep(static_cast<DWORD>(std::min<Millis>(at - now, nbwire::kLongestSleepMs)));
    }
    return true;
  }
};

// A played port's device end: its modem lines are the device's.
class PlayedEnd : public nbport::PortEnd {
 public:
  explicit PlayedEnd(Port& port) : port_(port) {}
  void update(nbport::Millis now) override { port_.update(now); }
  size_t waiting() override { return port_.device.waiting(); }
  std::string take(size_t most) override { return port_.device.take(most); }
  nbport::Millis nextChange() override { return port_.device.nextOutput(); }
  nbport::ModemLines modem() override {
    const uint8_t lines = port_.device.modemLines();
    return {(lines & kCtsLine) != 0, (lines & kDsrLine) != 0, (lines & kDcdLine) != 0, (lines & kRingLine) != 0};
  }
  size_t room() override { return static_cast<size_t>(-1); }

 private:
  Port& port_;
};

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

// The same for a call on an open port's handle: once its device was
// removed the call fails with the removal code and does nothing.
template <class Body>
BOOL ServeHandle(Port& port, Body body) {
  return Serve([&]() -> DWORD {
    port.update(Now());
    if (const DWORD error = port.windows.handleError()) return error;
    return body();
  });
}

// The CE_ bit ClearCommError reports for each fault a device plays.
struct FaultBit {
  LineFault fault;
  DWORD bit;
};
constexpr FaultBit kFaultBits[] = {{LineFault::Parity, CE_RXPARITY},
                                   {LineFault::Framing, CE_FRAME},
                                   {LineFault::Overrun, CE_OVERRUN},
                                   {LineFault::Break, CE_BREAK}};

// The line errors ClearCommError would report now: a lost byte (the
// receive queue's overflow) and the faults played since the last call.
DWORD LineErrors(const Port& port) {
  DWORD errors = port.device.overflowed() ? CE_RXOVER : 0;
  for (const FaultBit& f : kFaultBits) {
    if (port.device.lineFaults() & (1u << static_cast<unsigned>(f.fault))) errors |= f.bit;
  }
  return errors;
}

// ReadFile and WriteFile's failure before they move a byte: removal, or
// abort-on-error after a line error not yet cleared.
DWORD TransferError(const Port& port) {
  return port.windows.transferError(nbport::LineOf(port.dcb), LineErrors(port));
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
    port.update(Now());
    // Unplugged: 2; held by an open or stale handle: 5.
    if (const DWORD error = port.windows.open()) return error;
    const DWORD refused = creation == CREATE_NEW ? ERROR_FILE_EXISTS
                          : creation < CREATE_NEW || creation > TRUNCATE_EXISTING ? ERROR_INVALID_PARAMETER
                                                                                 : 0;
    HANDLE event = refused == 0 ? CreateEventA(nullptr, TRUE, FALSE, nullptr) : nullptr;
    if (event == nullptr) {
      port.windows.close();
      return refused != 0 ? refused : GetLastError();
    }
    port.handle = handle = event;
    port.device.setTimeOfDay(Now(), nbwire::UtcMs());
    port.device.open(Now());
    port.windows.setControl(nbport::LineOf(port.dcb));
    port.driveLines(Now());
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
    port->windows.close();  // a removed device's handle closes too
    port->driveLines(Now());
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
  return ServeHandle(*port, [&]() -> DWORD {
    if (read == nullptr || (buffer == nullptr && count > 0)) return ERROR_INVALID_PARAMETER;
    *read = 0;
    if (const DWORD error = TransferError(*port)) return error;
    WallClock clock;
    PlayedEnd end(*port);
    const nbport::ReadResult got =
        port->windows.read(clock, end, nbport::TimeoutsOf(port->timeouts), count);
    if (got.error != 0) return got.error;
    std::memcpy(buffer, got.bytes.data(), got.bytes.size());
    *read = static_cast<DWORD>(got.bytes.size());
    return 0;
  });
}

BOOL WINAPI SimWriteFile(HANDLE handle, LPCVOID buffer, DWORD count, LPDWORD written,
                         LPOVERLAPPED overlapped) {
  Port* port = PortOf(handle);
  if (port == nullptr) return next.WriteFile(handle, buffer, count, written, overlapped);
  return ServeHandle(*port, [&]() -> DWORD {
    if (written == nullptr || (buffer == nullptr && count > 0)) return ERROR_INVALID_PARAMETER;
    *written = 0;
    if (const DWORD error = TransferError(*port)) return error;
    // The write takes its line time; the device hears what went out as it ends.
    WallClock clock;
    PlayedEnd end(*port);
    const nbport::WriteResult done = port->windows.write(
        clock, end, nbport::LineOf(port->dcb), nbport::TimeoutsOf(port->timeouts), count);
    if (done.error != 0) return done.error;
    const Millis now = Now();
    port->device.advance(now);
    port->device.hear(std::string(static_cast<const char*>(buffer), done.written), now);
    *written = done.written;
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
  return ServeHandle(*port, [&]() -> DWORD {
    if (dcb == nullptr) return ERROR_INVALID_PARAMETER;
    *dcb = port->dcb;
    return 0;
  });
}

BOOL WINAPI SimSetCommState(HANDLE handle, LPDCB dcb) {
  Port* port = PortOf(handle);
  if (port == nullptr) return next.SetCommState(handle, dcb);
  return ServeHandle(*port, [&]() -> DWORD {
    if (dcb == nullptr ||
        nbport::FramingRefused(dcb->BaudRate, dcb->ByteSize, dcb->Parity, dcb->StopBits)) {
      return ERROR_INVALID_PARAMETER;
    }
    port->dcb = *dcb;
    port->dcb.DCBlength = sizeof(DCB);
    port->setLine();
    port->windows.setControl(nbport::LineOf(port->dcb));
    port->driveLines(Now());
    return 0;
  });
}

BOOL WINAPI SimGetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) {
  Port* port = PortOf(handle);
  if (port == nullptr) return next.GetCommTimeouts(handle, timeouts);
  return ServeHandle(*port, [&]() -> DWORD {
    if (timeouts == nullptr) return ERROR_INVALID_PARAMETER;
    *timeouts = port->timeouts;
    return 0;
  });
}

BOOL WINAPI SimSetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) {
  Port* port = PortOf(handle);
  if (port == nullptr) return next.SetCommTimeouts(handle, timeouts);
  return ServeHandle(*port, [&]() -> DWORD {
    if (timeouts == nullptr) return ERROR_INVALID_PARAMETER;
    if (const DWORD error = nbport::TimeoutsError(nbport::TimeoutsOf(*timeouts))) return error;
    port->timeouts = *timeouts;
    return 0;
  });
}

BOOL WINAPI SimClearCommError(HANDLE handle, LPDWORD errors, LPCOMSTAT status) {
  Port* port = PortOf(handle);
  if (port == nullptr) return next.ClearCommError(handle, errors, status);
  return ServeHandle(*port, [&]() -> DWORD {
    const DWORD found = LineErrors(*port);
    port->device.takeOverflow();
    port->device.takeLineFaults();
    if (errors != nullptr) *errors = found;
    if (status != nullptr) {
      *status = COMSTAT{};
      status->cbInQue = static_cast<DWORD>(port->device.waiting());
    }
    return 0;
  });
}

BOOL WINAPI SimGetCommModemStatus(HANDLE handle, LPDWORD status) {
  Port* port = PortOf(handle);
  if (port == nullptr) return next.GetCommModemStatus(handle, status);
  return ServeHandle(*port, [&]() -> DWORD {
    if (status == nullptr) return ERROR_INVALID_PARAMETER;
    *status = nbport::ModemStatusOf(PlayedEnd(*port).modem());
    return 0;
  });
}

BOOL WINAPI SimEscapeCommFunction(HANDLE handle, DWORD function) {
  Port* port = PortOf(handle);
  if (port == nullptr) return next.EscapeCommFunction(handle, function);
  return ServeHandle(*port, [&]() -> DWORD {
    if (const DWORD error = port->windows.escape(nbport::LineOf(port->dcb), function)) return error;
    port->driveLines(Now());
    return 0;
  });
}

BOOL WINAPI SimSetupComm(HANDLE handle, DWORD receive, DWORD transmit) {
  Port* port = PortOf(handle);
  if (port == nullptr) return next.SetupComm(handle, receive, transmit);
  return ServeHandle(*port, [&]() -> DWORD {
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
  return ServeHandle(*port, [&]() -> DWORD {
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
  ports[port] = std::make_shared<Port>(port, file);
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
  calls.GetCommModemStatus = &SimGetCommModemStatus;
  calls.EscapeCommFunction = &SimEscapeCommFunction;
  return {calls, &next};
}

}  // namespace nbdevice

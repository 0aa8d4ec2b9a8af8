#include "serial_device.h"

#include <memory>

#include "error_table.h"
#include "serial_rules.h"
#include "system_api.h"

namespace wl {
namespace {

constexpr size_t kMaxDeviceName = 255;
// Line errors that make a bytes-waiting query fail: receive-queue overflow,
// overrun, framing error, transmit queue full, I/O error.
constexpr DWORD kLineErrorMask = CE_RXOVER | CE_OVERRUN | CE_FRAME | CE_TXFULL | CE_IOE;
// How often a bounded read looks for more bytes.
constexpr DWORD kPollMilliseconds = 2;

HANDLE HandleOf(const Channel& channel) { return reinterpret_cast<HANDLE>(channel.osHandle); }

// What the layer keeps beside an open port's handle.
struct SerialData : ChannelData {
  // The port's time-outs: as read at the open, or as an action installed
  // them. Only they decide whether a read or write could wait for ever
  // (reading them back costs far more than a read).
  COMMTIMEOUTS own{};
  // The write time-out installed in place of endless ones; 0 when none is.
  DWORD writeBound = 0;
  // Bytes already taken from the device that the next read returns first
  // (a line receive that looked one byte too far puts its byte back here).
  std::string heldBytes;
  // The open's first setting also clears what the port inherited (see the
  // header); done once it has been written.
  bool repairPending = true;
  InheritedFlow flow = InheritedFlow::Keep;
  // Time-outs were installed since the open (serialInstallTimeouts).
  bool installed = false;
  // The device was found gone: its handle is never used again but to close it.
  bool gone = false;
};

SerialData& StateOf(Channel& port) { return *static_cast<SerialData*>(port.data.get()); }

// A call on the port's handle that Windows would fail for a removed device
// fails with this without being made once the port is found gone.
constexpr DWORD kGoneError = ERROR_DEVICE_REMOVED;

// Whether the harmless query confirms that the device behind the handle is
// gone: it fails too, with one of the removal codes.
bool ConfirmGone(HANDLE handle) {
  DWORD errors = 0;
  COMSTAT status{};
  const DWORD error = OsCall([&](SystemApi& sys) { sys.ClearCommError(handle, &errors, &status); });
  return IsRemovalCode(error);
}

// Makes `call` on the port's handle, unless the device is known to be gone;
// returns the Windows error read after it. A removal code marks the port
// gone when the harmless query fails that way too.
template <class Call>
DWORD PortCall(Channel& port, Call call) {
  SerialData& state = StateOf(port);
  if (state.gone) return kGoneError;
  const DWORD error = OsCall(call);
  if (IsRemovalCode(error) && ConfirmGone(HandleOf(port))) state.gone = true;
  return error;
}

// The number a failed call on the port records: 71 once the device is
// gone, else `number`.
int FailureOf(Channel& port, int number) { return StateOf(port).gone ? kNotReady : number; }

Channel* FindPort(int16_t number, int& errorNumber) {
  return FindChannel(number, ChannelKind::SerialPort, errorNumber);
}

// Clears what a port inherited from the program before that would drop or
// alter bytes and that no action sets (the DCB page: fAbortOnError makes the
// driver end every read and write with an error after a line error until
// ClearCommError is called; fNull discards every 0 byte; fDsrSensitivity
// ignores bytes while DSR is low; fErrorChar replaces bytes with a parity
// error). With Fresh flow the port also starts as a fresh one does: no flow
// control, DTR and RTS on.
// No hardware or software flow control in either direction.
void ClearFlowControl(DCB& dcb) {
  dcb.fOutxCtsFlow = 0;
  dcb.fOutxDsrFlow = 0;
  dcb.fOutX = 0;
  dcb.fInX = 0;
}

void RepairInherited(DCB& dcb, InheritedFlow flow) {
  dcb.fAbortOnError = 0;
  dcb.fNull = 0;
  dcb.fDsrSensitivity = 0;
  dcb.fErrorChar = 0;
  if (flow != InheritedFlow::Fresh) return;
  ClearFlowControl(dcb);
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
}

// Reads the DCB, lets `change` edit it and writes it back: a failed read
// records its mapped number, a refused write 5. The first change after the
// open carries the repair of what the port inherited.
template <class Change>
void ChangeState(Channel& port, int& errorNumber, Change change) {
  SerialData& state = StateOf(port);
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  DWORD error = PortCall(port, [&](SystemApi& sys) { sys.GetCommState(HandleOf(port), &dcb); });
  if (error != 0) {
    errorNumber = FailureOf(port, TranslateWindowsError(error));
    return;
  }
  if (state.repairPending) RepairInherited(dcb, state.flow);
  change(dcb);
  error = PortCall(port, [&](SystemApi& sys) { sys.SetCommState(HandleOf(port), &dcb); });
  if (error != 0) {
    errorNumber = FailureOf(port, kRefused);
  } else {
    state.repairPending = false;
  }
}

void ChangeDataBits(DCB& dcb, int32_t value) {
  Framing framing{dcb.ByteSize, dcb.StopBits, dcb.fParity != 0, dcb.Parity};
  ApplyDataBits(framing, value);
  dcb.ByteSize = framing.byteSize;
  dcb.StopBits = framing.stopBits;
  dcb.fParity = framing.parityEnabled;
  dcb.Parity = framing.parity;
}

void ChangeOption(DCB& dcb, CommOption option, int32_t value) {
  const bool on = value != 0;
  switch (option) {
    case CommOption::Baud: dcb.BaudRate = static_cast<DWORD>(value); break;
    case CommOption::DataBits: ChangeDataBits(dcb, value); break;
    case CommOption::ParityEnable: dcb.fParity = on; break;
    case CommOption::ParityType: dcb.Parity = static_cast<BYTE>(value); break;
    case CommOption::StopCode: dcb.StopBits = static_cast<BYTE>(value); break;
    case CommOption::CtsFlow: dcb.fOutxCtsFlow = on; break;
    case CommOption::DsrFlow: dcb.fOutxDsrFlow = on; break;
    case CommOption::DtrFlow: dcb.fDtrControl = on ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_DISABLE; break;
    case CommOption::RtsFlow: dcb.fRtsControl = static_cast<DWORD>(value) & 3; break;
    case CommOption::XonXoffIn: dcb.fInX = on; dcb.fTXContinueOnXoff = 0; break;
    case CommOption::XonXoffOut: dcb.fOutX = on; dcb.fTXContinueOnXoff = 0; break;
    case CommOption::TxBuffer:
    case CommOption::RxBuffer: break;  // queue sizes are not in the DCB
  }
}

// The recommended queue sizes go together: the option's side gets the value,
// the other keeps the device's current size.
void SetQueueSize(Channel& port, CommOption option, int32_t value, int& errorNumber) {
  COMMPROP properties{};
  DWORD error =
      PortCall(port, [&](SystemApi& sys) { sys.GetCommProperties(HandleOf(port), &properties); });
  if (error != 0) {
    errorNumber = FailureOf(port, TranslateWindowsError(error));
    return;
  }
  const DWORD size = static_cast<DWORD>(value);
  const DWORD receive = option == CommOption::RxBuffer ? size : properties.dwCurrentRxQueue;
  const DWORD transmit = option == CommOption::TxBuffer ? size : properties.dwCurrentTxQueue;
  error = PortCall(port, [&](SystemApi& sys) { sys.SetupComm(HandleOf(port), receive, transmit); });
  if (error != 0) errorNumber = FailureOf(port, kRefused);
}

// The bytes waiting in the device's input queue; false when the query
// failed (its number recorded) or a line error came in (57).
bool DeviceWaiting(Channel& port, DWORD& waiting, int& errorNumber) {
  DWORD errors = 0;
  COMSTAT status{};
  const DWORD error =
      PortCall(port, [&](SystemApi& sys) { sys.ClearCommError(HandleOf(port), &errors, &status); });
  waiting = 0;
  if (error != 0) {
    errorNumber = FailureOf(port, TranslateWindowsError(error));
    return false;
  }
  if (errors & kLineErrorMask) {
    errorNumber = kDeviceError;
    return false;
  }
  waiting = status.cbInQue;
  return true;
}

// ReadFile calls appending to `bytes` until `count` bytes are in or one
// returns short; false (69 recorded) when one failed. A huge count is read
// in pieces of kReadPieceBytes, so it costs no huge buffer (a failed
// allocation would throw out of the action), and a device that keeps every
// piece full is read for the stream limit from its first piece. A read of
// one piece never reads the clock.
bool ReadFromDevice(Channel& port, DWORD count, std::string& bytes, int& errorNumber) {
  Deadline stream(SystemClock(), kStreamLimitMilliseconds);
  while (count > 0) {
    const DWORD piece = count < kReadPieceBytes ? count : kReadPieceBytes;
    const size_t start = bytes.size();
    bytes.resize(start + piece);
    DWORD read = 0;
    const DWORD error = PortCall(
        port, [&](SystemApi& sys) { sys.ReadFile(HandleOf(port), &bytes[start], piece, &read); });
    bytes.resize(start + (error == 0 ? read : 0));
    if (error != 0) {
      errorNumber = FailureOf(port, kPortFailed);
      return false;
    }
    count -= piece;
    if (read < piece || count == 0 || stream.checkpoint()) break;
  }
  return true;
}

// A read on a port whose time-outs would let it wait for ever: only what is
// waiting is read, so each ReadFile returns at once, until `count` bytes are
// in, the line has been quiet for the quiet limit (the wait for the first
// byte included), or bytes have kept coming for the stream limit from the
// first one taken. Bytes already waiting are read without the clock.
void ReadBounded(Channel& port, DWORD count, std::string& bytes, int& errorNumber) {
  Deadline quiet(SystemClock(), kQuietLimitMilliseconds);
  Deadline stream(SystemClock(), kStreamLimitMilliseconds);
  while (bytes.size() < count) {
    DWORD waiting = 0;
    if (!DeviceWaiting(port, waiting, errorNumber)) {
      // The port failed under the read.
      if (errorNumber != kDeviceError) errorNumber = FailureOf(port, kPortFailed);
      return;
    }
    if (waiting > 0) {
      const DWORD wanted = count - static_cast<DWORD>(bytes.size());
      if (!ReadFromDevice(port, waiting < wanted ? waiting : wanted, bytes, errorNumber)) return;
      quiet.stop();
      if (bytes.size() == count || stream.checkpoint()) return;
    } else if (!quiet.started()) {
      quiet.start();  // the line fell quiet: look once more at once
    } else if (quiet.expired()) {
      return;
    } else {
      System().Sleep(kPollMilliseconds);
    }
  }
}

bool InstallTimeouts(Channel& port, COMMTIMEOUTS timeouts) {
  return PortCall(port, [&](SystemApi& sys) { sys.SetCommTimeouts(HandleOf(port), &timeouts); }) ==
         0;
}

// Puts the port's own time-outs back where a write bound replaced them.
void RestoreOwnTimeouts(Channel& port, SerialData& state) {
  if (state.writeBound != 0) InstallTimeouts(port, state.own);
  state.writeBound = 0;
}

// Makes sure a write of `length` bytes cannot wait for ever: when the port's
// own write time-outs would let it wait too long, a bound for writes of
// about this size is installed in their place (and kept while it fits,
// since changing time-outs costs far more than a write); a write they do
// bound runs under them again. False when the write could still wait for
// ever: the device refused the bound and has none from before.
bool BoundWrite(Channel& port, SerialData& state, DWORD length) {
  if (!WriteWaitsTooLong(state.own.WriteTotalTimeoutMultiplier,
                         state.own.WriteTotalTimeoutConstant, length)) {
    RestoreOwnTimeouts(port, state);
    return true;
  }
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  PortCall(port, [&](SystemApi& sys) { sys.GetCommState(HandleOf(port), &dcb); });
  const DWORD bound = WriteBoundMilliseconds(length, dcb.BaudRate);
  if (bound == state.writeBound) return true;
  COMMTIMEOUTS bounded = state.own;
  bounded.WriteTotalTimeoutMultiplier = 0;
  bounded.WriteTotalTimeoutConstant = bound;
  // A refused bound leaves the device with the one it had, which the close
  // must still put back.
  if (InstallTimeouts(port, bounded)) state.writeBound = bound;
  return state.writeBound != 0;
}

void CloseHandleOf(Channel& channel, int& errorNumber) {
  const DWORD error = OsCall([&](SystemApi& sys) { sys.CloseHandle(HandleOf(channel)); });
  if (error != 0) errorNumber = TranslateWindowsError(error);
}

// Whether the port under `number` is open with a live device: a port whose
// device was found gone, or whose handle fails the harmless query as a
// removed device's does, has its stale handle closed and leaves the table
// (some drivers bring a re-plugged adapter back only once it is closed).
bool OpenWithLiveDevice(int16_t number) {
  Channel* open = Channels().find(number);
  if (open == nullptr) return false;
  if (open->channelKind == ChannelKind::SerialPort &&
      (StateOf(*open).gone || ConfirmGone(HandleOf(*open)))) {
    std::unique_ptr<Channel> stale = Channels().remove(number);
    int ignored = 0;  // the stale handle's close is no failure of the open
    CloseHandleOf(*stale, ignored);
    return false;
  }
  return true;
}

}  // namespace

void serialOpen(int16_t number, const std::string& fullName, InheritedFlow flow,
                int& errorNumber) {
  const std::string name = fullName.substr(0, kMaxDeviceName);
  if (name.empty() || name.find_first_of("*?") != std::string::npos) {
    errorNumber = kBadFileName;
    return;
  }
  if (number < 0) {
    errorNumber = kNotOpen;
    return;
  }
  if (OpenWithLiveDevice(number)) {
    errorNumber = kAlreadyOpen;
    return;
  }
  // OPEN_EXISTING: a name that is no device fails instead of becoming a new file.
  HANDLE handle = INVALID_HANDLE_VALUE;
  const DWORD error = OsCall([&](SystemApi& sys) {
    handle = sys.CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL);
  });
  if (handle == INVALID_HANDLE_VALUE) {
    errorNumber = TranslateWindowsError(error);
    return;
  }
  auto state = std::make_unique<SerialData>();
  state->flow = flow;
  // Unreadable time-outs count as endless ones: every wait is then bounded.
  OsCall([&](SystemApi& sys) { sys.GetCommTimeouts(handle, &state->own); });
  auto channel = std::make_unique<Channel>();
  channel->channelNumber = number;
  channel->channelKind = ChannelKind::SerialPort;
  channel->osHandle = reinterpret_cast<uintptr_t>(handle);
  channel->deviceName = name;
  channel->data = std::move(state);
  Channels().insert(std::move(channel));
}

void serialSet(int16_t number, CommOption option, int32_t value, int& errorNumber) {
  Channel* port = FindPort(number, errorNumber);
  if (port == nullptr) return;
  if (option == CommOption::TxBuffer || option == CommOption::RxBuffer) {
    SetQueueSize(*port, option, value, errorNumber);
  } else {
    ChangeState(*port, errorNumber, [&](DCB& dcb) { ChangeOption(dcb, option, value); });
  }
}

void serialResetFlow(int16_t number, int& errorNumber) {
  Channel* port = FindPort(number, errorNumber);
  if (port == nullptr) return;
  ChangeState(*port, errorNumber, [](DCB& dcb) {
    ClearFlowControl(dcb);
    dcb.fDsrSensitivity = 0;
    dcb.fTXContinueOnXoff = 0;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
  });
}

uint32_t serialQuery(int16_t number, CommValue item, int& errorNumber) {
  Channel* port = FindPort(number, errorNumber);
  if (port == nullptr) return 0;
  if (item != CommValue::RxWaiting) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    const DWORD error =
        PortCall(*port, [&](SystemApi& sys) { sys.GetCommState(HandleOf(*port), &dcb); });
    if (error != 0) {
      errorNumber = FailureOf(*port, TranslateWindowsError(error));
      return 0;
    }
    if (item == CommValue::Baud) return dcb.BaudRate;
    return ByteMicroseconds(dcb.BaudRate, dcb.ByteSize, dcb.Parity, dcb.StopBits);
  }
  DWORD waiting = 0;
  if (!DeviceWaiting(*port, waiting, errorNumber)) return 0;
  return waiting + static_cast<uint32_t>(StateOf(*port).heldBytes.size());
}

void serialWrite(int16_t number, const std::string& bytes, int& errorNumber) {
  Channel* port = FindPort(number, errorNumber);
  if (port == nullptr) return;
  const DWORD length = static_cast<DWORD>(bytes.size());
  if (length > 0 && !BoundWrite(*port, StateOf(*port), length)) {
    // Unbounded, the write could hold the host for ever: not made.
    errorNumber = FailureOf(*port, kPortFailed);
    return;
  }
  DWORD written = 0;
  const DWORD error = PortCall(*port, [&](SystemApi& sys) {
    sys.WriteFile(HandleOf(*port), bytes.data(), length, &written);
  });
  if (error != 0 || written != length) {
    errorNumber = FailureOf(*port, kPortFailed);
  } else {
    port->endOfData = false;
  }
}

std::string serialRead(int16_t number, int32_t count, int& errorNumber) {
  Channel* port = FindPort(number, errorNumber);
  if (port == nullptr) return std::string();
  if (count < 0) {
    errorNumber = kNoMemory;
    return std::string();
  }
  port->endOfData = false;
  SerialData& state = StateOf(*port);
  const DWORD wanted = static_cast<DWORD>(count) < kMostReadBytes ? count : kMostReadBytes;
  std::string bytes = state.heldBytes.substr(0, wanted);
  state.heldBytes.erase(0, bytes.size());
  if (bytes.size() < wanted) {
    const COMMTIMEOUTS& own = state.own;
    const DWORD rest = wanted - static_cast<DWORD>(bytes.size());
    if (ReadWaitsTooLong(own.ReadIntervalTimeout, own.ReadTotalTimeoutMultiplier,
                         own.ReadTotalTimeoutConstant, rest < kReadPieceBytes ? rest : kReadPieceBytes)) {
      ReadBounded(*port, wanted, bytes, errorNumber);
    } else {
      ReadFromDevice(*port, rest, bytes, errorNumber);
    }
  }
  if (bytes.size() < wanted) port->endOfData = true;
  return bytes;
}

void channelClose(int16_t number, ChannelKind kind, int& errorNumber) {
  Channel* channel = Channels().find(number);
  if (channel == nullptr) return;
  if (channel->channelKind != kind) {
    errorNumber = kWrongKind;
    return;
  }
  std::unique_ptr<Channel> entry = Channels().remove(number);
  // A gone device's handle is only closed: its time-outs went with it.
  if (kind == ChannelKind::SerialPort) RestoreOwnTimeouts(*entry, StateOf(*entry));
  CloseHandleOf(*entry, errorNumber);
}

void serialUnread(int16_t number, char byte) {
  int ignored = 0;
  if (Channel* port = FindPort(number, ignored)) StateOf(*port).heldBytes.insert(0, 1, byte);
}

void serialInstallTimeouts(int16_t number, const PortTimeouts& timeouts) {
  int ignored = 0;
  Channel* port = FindPort(number, ignored);
  if (port == nullptr) return;
  SerialData& state = StateOf(*port);
  const COMMTIMEOUTS wanted{timeouts.readInterval, timeouts.readTotalMultiplier,
                            timeouts.readTotalConstant, timeouts.writeTotalMultiplier,
                            timeouts.writeTotalConstant};
  // Only time-outs the device took decide how reads and writes are bounded:
  // refused ones would leave endless waits taken for finite.
  if (!InstallTimeouts(*port, wanted)) return;
  state.own = wanted;
  state.writeBound = 0;
  state.installed = true;
}

bool serialHasInstalledTimeouts(int16_t number) {
  int ignored = 0;
  Channel* port = FindPort(number, ignored);
  return port != nullptr && StateOf(*port).installed;
}

bool serialGone(int16_t number) {
  int ignored = 0;
  Channel* port = FindPort(number, ignored);
  return port != nullptr && StateOf(*port).gone;
}

void serialCloseAll() {
  for (int16_t number = 1; number <= kHighestPort; ++number) {
    int ignored = 0;
    channelClose(number, ChannelKind::SerialPort, ignored);
  }
}

}  // namespace wl

// One simulated Windows serial port: how a port behaves between its calls,
// as Microsoft documents the driver, written once for the tests' fake
// device (tests/support/fake_device) and the ports the runner and
// Wirebench play (simulated_ports.h). Each of those keeps only what is its
// own: the fake its logs, injections, handles and virtual clock; the played
// ports their place in the chain, their device file and the wall clock.
//
// What the port does, and the documented fact each rule rests on:
//  - Its COMMTIMEOUTS and DCB are kept from one open to the next: the
//    driver sets neither at open (Wine zeroes the time-outs; Windows does
//    not), so a port shows what the program before left there. That is the
//    callers' part: they keep the two records and never reset them.
//  - Reads wait as COMMTIMEOUTS says (ReadWaitOf, port_model.h):
//    {MAXDWORD,0,0} returns at once; {MAXDWORD,MAXDWORD,c} returns at once
//    with bytes waiting, else with the first byte or after c; all 0 waits
//    for every byte; {MAXDWORD,x,MAXDWORD} starts no timer. SetCommTimeouts
//    refuses all three read values MAXDWORD (87).
//  - Writes take their line time at the port's rate and framing; a total
//    write time-out (multiplier x count + constant, COMMTIMEOUTS: both 0
//    means none) shorter than that ends the write with what went out, and
//    WriteFile still succeeds with fewer bytes written, as a timed-out
//    write completes. With fOutxCtsFlow and CTS low, or fOutxDsrFlow and
//    DSR low (DCB: "output is suspended until CTS is sent again"), nothing
//    goes out until the line is released or the time-out ends the write.
//  - With fAbortOnError, after a line error every read and write fails with
//    995 until ClearCommError is called (ClearCommError, remarks).
//  - A removed adapter (a USB port pulled out): its names fail to open with
//    2; every call on a handle opened before fails with the driver's
//    removal code, CloseHandle succeeds; plugged in again, the old handle
//    never works again and the name opens only once it is closed (5 until
//    then), the strictest drivers' way.
//  - One handle at a time: a second open fails with 5 (CreateFile opens a
//    communications resource for exclusive access).
// Pure code: no Windows here. Callers turn their DCB and COMMTIMEOUTS into
// the small records below (LineOf, TimeoutsOf).
#pragma once

#include <cstdint>
#include <string>

#include "wire/port_model.h"

namespace nbport {

using Millis = uint64_t;
constexpr Millis kNever = ~Millis(0);

// The Windows errors a port gives.
constexpr uint32_t kFileNotFound = 2;       // ERROR_FILE_NOT_FOUND: no such port (unplugged)
constexpr uint32_t kAccessDenied = 5;       // ERROR_ACCESS_DENIED: the port is held
constexpr uint32_t kBadCommand = 22;        // ERROR_BAD_COMMAND
constexpr uint32_t kInvalidParameter = 87;  // ERROR_INVALID_PARAMETER
constexpr uint32_t kOperationAborted = 995; // ERROR_OPERATION_ABORTED
// What calls on a removed adapter's handle fail with unless told another:
// drivers give 5, 22, 31, 995, 1167 or 1617; 22 is the common USB one.
constexpr uint32_t kRemovedError = kBadCommand;

// The DCB fields the port's behaviour depends on.
struct Line {
  uint32_t baud = kFreshBaud;
  uint8_t byteSize = kFreshByteSize;
  uint8_t parity = 0;
  uint8_t stopBits = 0;
  bool ctsFlow = false;  // fOutxCtsFlow
  bool dsrFlow = false;  // fOutxDsrFlow
  bool abortOnError = false;
  uint8_t dtrControl = static_cast<uint8_t>(kFreshDtrControl);  // fDtrControl
  uint8_t rtsControl = static_cast<uint8_t>(kFreshRtsControl);  // fRtsControl
};
template <class Dcb>
Line LineOf(const Dcb& d) {
  Line line;
  line.baud = d.BaudRate;
  line.byteSize = d.ByteSize;
  line.parity = d.Parity;
  line.stopBits = d.StopBits;
  line.ctsFlow = d.fOutxCtsFlow != 0;
  line.dsrFlow = d.fOutxDsrFlow != 0;
  line.abortOnError = d.fAbortOnError != 0;
  line.dtrControl = static_cast<uint8_t>(d.fDtrControl);
  line.rtsControl = static_cast<uint8_t>(d.fRtsControl);
  return line;
}

struct Timeouts {
  uint32_t readInterval = 0, readMultiplier = 0, readConstant = 0;
  uint32_t writeMultiplier = 0, writeConstant = 0;
};
template <class CommTimeouts>
Timeouts TimeoutsOf(const CommTimeouts& t) {
  return {t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant,
          t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant};
}

// SetCommTimeouts' answer: 87 for all three read values MAXDWORD, else 0.
uint32_t TimeoutsError(const Timeouts& t);

// The modem lines the device drives, as the port sees them.
struct ModemLines {
  bool cts = true, dsr = true, dcd = false, ring = false;
};
// GetCommModemStatus' answer: MS_CTS_ON, MS_DSR_ON, MS_RING_ON, MS_RLSD_ON.
constexpr uint32_t kCtsOn = 0x10, kDsrOn = 0x20, kRingOn = 0x40, kRlsdOn = 0x80;
uint32_t ModemStatusOf(const ModemLines& lines);

// The lines the host drives. A DCB's control values: DTR_CONTROL_DISABLE 0,
// ENABLE 1, HANDSHAKE 2; RTS_CONTROL_TOGGLE 3 (RTS only while sending).
struct HostLines {
  bool dtr = false, rts = false;
};
constexpr uint8_t kControlDisable = 0, kControlEnable = 1, kControlHandshake = 2;
// EscapeCommFunction's codes for the host's lines.
constexpr uint32_t kSetRts = 3, kClrRts = 4, kSetDtr = 5, kClrDtr = 6;

// The port's clock: the fake's virtual one, or the wall clock.
class PortClock {
 public:
  virtual ~PortClock() = default;
  virtual Millis now() = 0;
  // Waits until `at`. A wait that can never end (kNever) is not made: the
  // clock returns false and the call ends with what it has (the fake
  // records it; a played port cannot be woken by anything while the host
  // waits in it, so it returns rather than hang the program).
  virtual bool waitUntil(Millis at) = 0;
};

// The device end of a port, as reads and writes see it.
class PortEnd {
 public:
  virtual ~PortEnd() = default;
  // Brings in what is due by `now`: the device's bytes, its modem lines,
  // whether it is still there (the caller tells the port, see unplug).
  virtual void update(Millis now) = 0;
  virtual size_t waiting() = 0;
  virtual std::string take(size_t most) = 0;
  // When anything may next change (a byte, a line, a removal); kNever: never.
  virtual Millis nextChange() = 0;
  virtual ModemLines modem() = 0;
  // Bytes the device can still take (the rest waits as flow control does).
  virtual size_t room() = 0;
};

struct ReadResult {
  uint32_t error = 0;  // a removal during the wait, or 995
  std::string bytes;
  bool forever = false;  // the read would have waited without end
};
struct WriteResult {
  uint32_t error = 0;
  uint32_t written = 0;
  bool forever = false;
};

class WindowsPort {
 public:
  // CreateFile: 0, or 2 while unplugged, 5 while another handle (live or
  // stale) holds the port.
  uint32_t open();
  // CloseHandle on the port's handle, live or stale: always succeeds.
  void close();
  bool isOpen() const { return open_; }

  // The device is removed: the open handle (if any) never works again.
  void unplug(uint32_t error = kRemovedError);
  void plugIn() { present_ = true; }
  bool present() const { return present_; }
  // What every call on the open handle fails with first: the removal code
  // once its device was removed, else 0.
  uint32_t handleError() const { return stale_ ? removalError_ : 0; }

  // ReadFile and WriteFile's own failure before they move a byte: the
  // removal code, or 995 with fAbortOnError and line errors not yet
  // cleared (`lineErrors`, the CE_ bits ClearCommError would report).
  uint32_t transferError(const Line& line, uint32_t lineErrors) const;

  // The host's DTR and RTS. The DCB page: DTR_CONTROL_ENABLE "enables the
  // DTR line when the device is opened and leaves it on" (RTS alike), so
  // an open and each SetCommState (`setControl`) drive both as the DCB
  // says (handshaking keeps them up while the port can take bytes; toggle
  // drops RTS between sends). Microsoft documents nothing of the close:
  // the port drops both there, as USB serial drivers tell the device at
  // the last close and as boards that reset on DTR expect.
  HostLines hostLines() const { return open_ ? hostLines_ : HostLines(); }
  void setControl(const Line& line);
  // EscapeCommFunction for DTR and RTS: 0, or 87 when the line is under
  // handshaking (IOCTL_SERIAL_SET_DTR: STATUS_INVALID_PARAMETER "indicates
  // that the handshake flow control of the device is set to automatically
  // use DTR"). Other codes change no line and succeed.
  uint32_t escape(const Line& line, uint32_t function);

  ReadResult read(PortClock& clock, PortEnd& end, const Timeouts& t, uint32_t count);
  // Writes `count` bytes; the caller hands the first `written` to the device.
  WriteResult write(PortClock& clock, PortEnd& end, const Line& line, const Timeouts& t,
                    uint32_t count);

 private:
  // Whether flow control holds the output now.
  static bool held(const Line& line, const ModemLines& modem);

  bool present_ = true;
  bool open_ = false;
  bool stale_ = false;  // the open handle's device was removed
  uint32_t removalError_ = kRemovedError;
  uint64_t lineFreeUs_ = 0;  // when the line has sent the last write's bytes
  HostLines hostLines_;
};

}  // namespace nbport

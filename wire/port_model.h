// A Windows serial port as its driver behaves, in one place: the settings a
// port starts with, the framing its driver refuses, how a read waits under
// each kind of COMMTIMEOUTS, and how long a byte takes on the line. The
// ports the runner and Wirebench play and the tests' fake device both follow
// it, so the two cannot drift apart.
// Pure code: the caller turns these values into and out of its DCB.
#pragma once

#include <cstdint>

#include "serial/serial_rules.h"

namespace nbport {

constexpr uint32_t kMaxDword = 0xFFFFFFFFu;  // MAXDWORD

// A freshly opened port: 9600 baud, 8 data bits, no parity, one stop bit,
// binary, no flow control, with DTR and RTS raised but not used for
// handshaking (DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE: the values the
// system's mode command and BuildCommDCB give a port), XON/XOFF limits and
// characters as the driver sets them, queues of 4096 bytes.
constexpr uint32_t kFreshBaud = 9600;
constexpr uint8_t kFreshByteSize = 8;
constexpr uint32_t kFreshDtrControl = 1;  // DTR_CONTROL_ENABLE
constexpr uint32_t kFreshRtsControl = 1;  // RTS_CONTROL_ENABLE
constexpr uint16_t kFreshXonLimit = 2048;
constexpr uint16_t kFreshXoffLimit = 512;
constexpr char kFreshXonChar = 0x11;
constexpr char kFreshXoffChar = 0x13;
constexpr uint32_t kFreshQueueBytes = 4096;

// Sets the fields of a DCB (the caller's type: this stays free of Windows)
// as a freshly opened port has them; the others stay 0.
template <class Dcb>
void SetFresh(Dcb& dcb) {
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = kFreshBaud;
  dcb.fBinary = 1;
  dcb.ByteSize = kFreshByteSize;
  dcb.fDtrControl = kFreshDtrControl;
  dcb.fRtsControl = kFreshRtsControl;
  dcb.XonLim = kFreshXonLimit;
  dcb.XoffLim = kFreshXoffLimit;
  dcb.XonChar = kFreshXonChar;
  dcb.XoffChar = kFreshXoffChar;
}

// The framing a driver refuses (SetCommState fails with 87): a rate of 0,
// byte sizes outside 5 to 8, parity beyond space (4), stop bits beyond two
// (2), 5 data bits with two stop bits, 6 to 8 with one and a half.
bool FramingRefused(uint32_t baud, uint8_t byteSize, uint8_t parity, uint8_t stopBits);

// How a ReadFile of `count` bytes waits under the port's read time-outs
// (interval, total multiplier, total constant), as Windows documents them
// (COMMTIMEOUTS); {MAXDWORD, x, MAXDWORD} starts no timer, as the driver
// does, so it waits for every byte.
struct ReadWait {
  bool atOnce = false;       // takes what is there and returns
  bool firstBytes = false;   // returns once anything came, or after totalMs
  uint64_t totalMs = 0;      // the whole read's limit; 0: none
  uint32_t intervalMs = 0;   // the longest gap between two bytes, from the first; 0: none
  // With no limit of any kind the read waits until every byte has come.
  bool forever() const { return !atOnce && totalMs == 0 && intervalMs == 0; }
};
ReadWait ReadWaitOf(uint32_t interval, uint32_t multiplier, uint32_t constant, uint32_t count);

// How long one byte takes on the line is the engine's rule, one for the
// plug-ins and the ports they talk to.
using wl::ByteMicroseconds;

}  // namespace nbport

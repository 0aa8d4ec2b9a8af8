// The serial engine's rules that need no device: the baud-rate table, port
// names, the data-bits rules on a port's framing, the line time-out, and
// when a port's time-outs would let a device call wait without end.
#pragma once

#include <cstdint>
#include <string>

#include "bounds.h"

namespace wl {

// The rates the open and set-baud actions take as asked; any other becomes 9600.
int32_t BaudFromTable(int32_t requested);

// Ports are numbered 1 to kHighestPort: Windows gives USB adapters numbers
// well past 16. Anything else ends a serial action silently.
constexpr int64_t kHighestPort = 256;
bool PortInRange(int64_t port);

// "COM" + the port field's text for ports 1 to 9, "\\.\COM" + that text
// from 10 on (Windows knows only COM1 to COM9 without the device namespace's
// prefix): the number is not re-formatted, so field "03" names COM03.
std::string PortDeviceName(int64_t port, const std::string& portField);

// The framing fields of a port's DCB that a data-bits change touches.
struct Framing {
  uint8_t byteSize = 8;
  uint8_t stopBits = 0;  // 0 one, 1 one and a half, 2 two
  bool parityEnabled = false;
  uint8_t parity = 0;  // 0 none, 1 odd, 2 even, 3 mark, 4 space
};

// Sets the byte size and, with it, the stop bits and parity a data-bits
// change implies: 5 bits cannot have two stop bits (they become one and a
// half), more than 5 get one stop bit, 8 and more lose parity. The value is
// compared unsigned, so a negative one counts as very large.
void ApplyDataBits(Framing& framing, int32_t value);

// wlCommRxLine's idle time-out in 10 ms polls: 1 to 1000, else 100 (1 s).
uint32_t LineTimeoutPolls(int32_t field);

// The quiet that ends a line receive with an idle time-out of `polls`: the
// time t + 1 polls of 10 ms take, measured on the clock rather than counted
// (a Sleep(10) lasts a whole timer tick, 15.6 ms by default, on Windows).
uint32_t LineQuietMilliseconds(uint32_t polls);

// The longest a ReadFile of `count` bytes can wait under these read
// time-outs, in milliseconds, as the COMMTIMEOUTS documentation gives them;
// kEndless when no timer ends it. {MAXDWORD, 0, 0} returns at once;
// {MAXDWORD, MAXDWORD, c} with 0 < c < MAXDWORD returns with the first
// bytes, waiting at most c; {MAXDWORD, x, MAXDWORD} starts no timer; with
// both totals 0 nothing bounds the wait for the first byte (the interval
// time-out counts only between bytes); otherwise multiplier x count +
// constant bounds the whole read.
constexpr uint64_t kEndless = ~uint64_t(0);
uint64_t LongestReadWait(uint32_t interval, uint32_t multiplier, uint32_t constant,
                         uint32_t count);

// The longest a WriteFile of `count` bytes can wait under these write
// time-outs: multiplier x count + constant; kEndless when both are 0.
uint64_t LongestWriteWait(uint32_t multiplier, uint32_t constant, uint32_t count);

// A read or write that can wait longer than kLongestPortWaitMilliseconds
// for its size counts as one that waits without end, and is bounded by the
// layer: endless time-outs, and those of hours or days that another program
// left on the port, alike.
bool ReadWaitsTooLong(uint32_t interval, uint32_t multiplier, uint32_t constant, uint32_t count);
bool WriteWaitsTooLong(uint32_t multiplier, uint32_t constant, uint32_t count);

// Microseconds one byte takes on the line at `baud`: a start bit, the data
// bits, a parity bit unless parity is 0 (none), and the stop bits (0 one, 1
// one and a half, 2 two); a rate of 0 takes none.
uint32_t ByteMicroseconds(uint32_t baud, uint8_t byteSize, uint8_t parity, uint8_t stopBits);

// How long a bounded write of `length` bytes may take at `baud`: a few
// seconds for the device to start taking bytes, plus the time the bytes
// need on the line at up to 12 bits each, rounded up to whole seconds so
// that writes of similar sizes share one bound.
uint32_t WriteBoundMilliseconds(uint32_t length, uint32_t baud);

// How long a line receive may collect one piece, from its first stored
// byte: the time a full piece needs on the line at `baud` (12 bits a byte,
// the slowest a device can send it), never below kLineRateCheckMilliseconds.
// A device sending at its rate is never cut short by it; one that trickles
// bytes just faster than the idle time-out is.
uint32_t LinePieceMilliseconds(uint32_t baud);

}  // namespace wl

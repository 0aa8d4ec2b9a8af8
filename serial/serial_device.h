// The serial device layer: opens a port under its channel number, changes
// one setting at a time, reads two values, writes and reads raw bytes, and
// closes channels. Every operation records a failure by overwriting the
// running action's error number and returns a neutral result (0, an empty
// string); none ends the action.
//
// The layer keeps no copy of a port's settings: each change reads the
// device's DCB, changes one option's fields and writes it back.
//
// Time-outs and bounds. A freshly opened port may have all-zero time-outs,
// with which a read waits until every byte asked for has come and a write
// until the device took every byte: for ever, when the device is silent or
// flow control holds the line. The layer reads a port's time-outs once, at
// the open, and where they would allow that it bounds the call itself:
//  - a read asking for more than is waiting takes what arrives and returns
//    once the line has been quiet for kQuietLimitMilliseconds (1 s), the
//    wait for its first byte included;
//  - a write runs under a total write time-out of 3 s plus the time its
//    bytes need on the line at the port's rate (12 bits a byte, rounded up
//    to whole seconds); a write cut short by it records 69, and so does a
//    write the device refuses every bound for (it is not made). That time-out
//    stays installed while it fits the writes (changing time-outs costs far
//    more than a write) and the port's own are put back at its close.
// Ports whose time-outs are finite (Quillport's open installs some, as can
// the device's previous user) keep them and get exactly one ReadFile or
// WriteFile per call (per 64 KiB piece of a larger read).
// A device that never stops sending cannot hold a read either: one read
// returns at most kMostReadBytes (16 MiB) and stops taking pieces
// kStreamLimitMilliseconds after its first byte (bounds.h).
#pragma once

#include <cstdint>
#include <string>

#include "channel_table.h"

namespace wl {

enum class CommOption {
  Baud,
  DataBits,
  ParityEnable,
  ParityType,
  StopCode,
  CtsFlow,
  DsrFlow,
  DtrFlow,
  RtsFlow,
  XonXoffIn,
  XonXoffOut,
  TxBuffer,
  RxBuffer,
};

enum class CommValue { Baud, RxWaiting };

// A port's read and write time-outs in milliseconds, as the device keeps them.
struct PortTimeouts {
  uint32_t readInterval;
  uint32_t readTotalMultiplier;
  uint32_t readTotalConstant;
  uint32_t writeTotalMultiplier;
  uint32_t writeTotalConstant;
};

void serialOpen(int16_t number, const std::string& deviceName, int& errorNumber);
void serialSet(int16_t number, CommOption option, int32_t value, int& errorNumber);
void serialResetFlow(int16_t number, int& errorNumber);
uint32_t serialQuery(int16_t number, CommValue item, int& errorNumber);
void serialWrite(int16_t number, const std::string& bytes, int& errorNumber);
std::string serialRead(int16_t number, int32_t count, int& errorNumber);

// Closes the channel when it is of `kind` (54 and left open otherwise); a
// free number is no error.
void channelClose(int16_t number, ChannelKind kind, int& errorNumber);

// Gives back a byte a read took too early: the next read and the next
// bytes-waiting query of the port count it first.
void serialUnread(int16_t number, char byte);

// Installs time-outs on an open port; whether the device took them is not
// reported, but refused ones are not taken for the port's. Returns without a
// call when the port is not open.
void serialInstallTimeouts(int16_t number, const PortTimeouts& timeouts);

}  // namespace wl

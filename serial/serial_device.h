// The serial device layer: opens a port under its channel number, changes
// one setting at a time, reads two values, writes and reads raw bytes, and
// closes channels. Every operation records a failure by overwriting the
// running action's error number and returns a neutral result (0, an empty
// string); none ends the action.
//
// The layer keeps no copy of a port's settings: each change reads the
// device's DCB, changes one option's fields and writes it back.
//
// Time-outs and bounds. Windows keeps a port's time-outs from one program to
// the next, so a port may come with all-zero ones (a read waits until every
// byte asked for has come, a write until the device took every byte: for
// ever, when the device is silent or flow control holds the line), or with
// what another program left: .NET's {MAXDWORD, MAXDWORD, MAXDWORD-1},
// pyserial's write constant of MAXDWORD, waits of hours. The layer reads a
// port's time-outs once, at the open, and where they would let this call,
// for its size, wait longer than kLongestPortWaitMilliseconds, it bounds the
// call itself:
//  - a read asking for more than is waiting takes what arrives and returns
//    once the line has been quiet for kQuietLimitMilliseconds (1 s), the
//    wait for its first byte included;
//  - a write runs under a total write time-out of 3 s plus the time its
//    bytes need on the line at the port's rate (12 bits a byte, rounded up
//    to whole seconds); a write cut short by it records 69, and so does a
//    write the device refuses every bound for (it is not made). That time-out
//    stays installed while it fits the writes (changing time-outs costs far
//    more than a write) and the port's own are put back at its close.
// Ports whose time-outs are short enough (Quillport's open installs some)
// keep them and get exactly one ReadFile or WriteFile per call (per 64 KiB
// piece of a larger read).
// A device that never stops sending cannot hold a read either: one read
// returns at most kMostReadBytes (16 MiB) and stops taking pieces
// kStreamLimitMilliseconds after its first byte (bounds.h).
//
// Inherited settings. Windows keeps a port's DCB from one program to the
// next too. The first setting an open makes also clears the fields that
// drop or alter bytes and that no action sets (abort-on-error, which fails
// every call after a line error until the error is cleared; null stripping;
// DSR sensitivity; error-character replacement), and, for an edition without
// flow-control actions, starts the port with no flow control and DTR and RTS
// on, as a fresh port has them.
//
// A device that is gone (a USB adapter pulled out) fails calls on its
// handle with one of the codes IsRemovalCode lists. When a harmless second
// call (ClearCommError) fails that way too, the port is marked gone: that
// call and every later one on the port record 71 without touching the
// handle, which never works again, until the port is closed; opening the
// port again closes the stale handle first.
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

enum class CommValue {
  Baud,
  RxWaiting,
  ByteMicroseconds,  // how long one byte takes on the line at the port's rate and framing
};

// What an open does with the flow control and modem lines a port comes with.
enum class InheritedFlow {
  Keep,   // as the device had them: the edition's flow actions set them
  Fresh,  // no flow control, DTR and RTS on: an edition that cannot set them
};

// A port's read and write time-outs in milliseconds, as the device keeps them.
struct PortTimeouts {
  uint32_t readInterval;
  uint32_t readTotalMultiplier;
  uint32_t readTotalConstant;
  uint32_t writeTotalMultiplier;
  uint32_t writeTotalConstant;
};

void serialOpen(int16_t number, const std::string& deviceName, InheritedFlow flow,
                int& errorNumber);
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

// Whether time-outs were installed on the open port since its open.
bool serialHasInstalledTimeouts(int16_t number);

// Whether the open port's device has been found gone.
bool serialGone(int16_t number);

// Closes every open serial port, putting back the time-outs it came with:
// for a plug-in being unloaded.
void serialCloseAll();

}  // namespace wl

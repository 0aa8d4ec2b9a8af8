// The error numbers scripts see in wlOpenCommErr, wlCommErr and wlTcpErr,
// named once, and the table that turns Windows error codes into them.
#pragma once

#include <cstdint>

namespace wl {

constexpr int kRefused = 5;          // the device refused a setting or a queue size
constexpr int kNoMemory = 7;         // no memory for a result or record; a negative count
constexpr int kTimedOut = 24;        // a TCP wait ran out before anything was transferred
constexpr int kNotOpen = 52;         // the channel number is free
constexpr int kWrongKind = 54;       // the channel is of another kind
constexpr int kAlreadyOpen = 55;     // the channel number is taken
constexpr int kDeviceError = 57;     // a line error; a socket call failed; a short write to a device
constexpr int kDiskFull = 61;        // a disk file took fewer bytes than given
constexpr int kBadFileName = 64;     // an empty name, or one holding "*" or "?"
constexpr int kNetworkRefused = 68;  // the network stack did not start in version 2
constexpr int kPortFailed = 69;      // a port read or write failed, or a write was cut short
constexpr int kInProgress = 70;      // a socket call said WSAEINPROGRESS
constexpr int kNotReady = 71;        // the device is gone: unplugged, or its line vanished

// Whether a Windows error code read after a call on a port's handle is one a
// removed device gives: USB-serial drivers fail reads, writes, queries and
// settings of an adapter pulled out with 5, 22, 31, 995, 1167 or 1617
// (depending on the driver), and Wine with 21 for a vanished line. Some of
// them have other causes too (995 under abort-on-error, 5 for a refused
// setting), so one alone does not prove the device gone.
bool IsRemovalCode(uint32_t code);

// The error number for a Windows error code read after a failed call.
int TranslateWindowsError(uint32_t code);

}  // namespace wl

// The socket layer: the plug-in's one TCP client connection (kTcpChannel).
//
// Windows Sockets from WSOCK32, every call made through System(). The
// socket never blocks (see Connect): the connect and every wait after it
// is one select on the connection's socket, its time-out built
// from the connection's millisecond count by shifts: t >> 10 seconds and
// (t & 1023) << 10 microseconds, so 1,024 waits 1 s and 1,023 waits
// 1.047552 s. Every operation returns an error number, 0 for success:
//   7  no memory          24 a wait ran out      52 no connection open
//   54 its channel is something else              55 already open
//   57 a socket call failed (70 when it said WSAEINPROGRESS)
//   68 the network stack did not start in version 2
// (named in serial/error_table.h).
// The layer never touches host variables.
#pragma once

#include <cstdint>
#include <string>

#include "receive_buffer.h"

namespace wl {

// Connects to `host` (cut to 256 bytes) at the low 16 bits of `port`; a
// negative port is looked up as a service. The connect and every later
// wait end after `timeout` ms (24); 0 means no limit of ours, so the
// connect then ends when the system's would. Finding a name's address
// takes as long as the resolver does.
int tcpOpen(const std::string& host, int32_t port, int32_t timeout);

// Sends every byte of `data` (an empty text waits once and sends nothing).
int tcpSend(const std::string& data);

// Receives up to `count` bytes into `bytes` (empty after an error).
int tcpReceive(int32_t count, std::string& bytes);

// Receives one line and appends it, without CR and LF, to `line`; after an
// error `line` is as it was. `end` says whether the line came whole or as a
// piece handed over for a bound; `stream`, when given, is started with the
// first byte taken. `atEnd` is the end flag afterwards, as tcpAtEnd gives it.
int tcpReceiveLine(std::string& line, LineEnd& end, bool& atEnd, Deadline* stream = nullptr);

// Lines as tcpReceiveLine gives them, each whole one followed by CR LF,
// appended to `out` until it holds at least `batch` bytes, the end flag is
// set, or `stream` (started with the first byte taken) has expired, looked
// at after the first line of each receive and before the next; after an
// error the failed line is left out.
int tcpReceiveLines(std::string& out, size_t batch, Deadline& stream);

// Discards the unread bytes and what the socket already holds, without
// waiting, then sets the end flag (left clear while a peer keeps sending).
int tcpDiscard();

// The end flag: true only while a connection is open and the flag is set.
bool tcpAtEnd();

// Closes the connection, dropping unread bytes; 0 when none is open.
int tcpClose();

// What select waits for a connection time-out of `ms` milliseconds.
struct WaitTime {
  long seconds;
  long microseconds;
};
constexpr WaitTime WaitTimeOf(uint32_t ms) {
  return {static_cast<long>(ms >> 10), static_cast<long>((ms & 1023u) << 10)};
}

}  // namespace wl

// Played servers: TCP servers answered by played devices (device files,
// see device_file.h) instead of the network, so a dialogue with a PLC or a
// line service can be tried before it is reachable. No byte of a played
// connection leaves the process.
//
// These functions are a layer of the chain (chain.h) in front of the comm
// plug-ins' socket calls; sockets and addresses that are not played pass on
// unchanged. A played server is found as a script reaches it:
//  - gethostbyname with the host as the script gave it to wlTCPopen (a name
//    in any case, or a dotted number) answers with its address: a dotted
//    number's own, a name's an address of its own on the loopback network
//    (127.87.66.n), so that the name needs no name service;
//  - connect to that address and a played port connects to the server on
//    the socket the plug-in made (which keeps its handle and never
//    connects): at once on a blocking socket; on one made non-blocking
//    before, as Windows does, under way (WSAEWOULDBLOCK), then writable in
//    select with SO_ERROR 0; connect to another port of a played name goes
//    to the name's real address, as it would without the played server;
//  - select, recv, send, ioctlsocket (FIONBIO, FIONREAD), getsockopt
//    (SO_ERROR) and closesocket on that socket behave as on a connection
//    to a real server
//    (played_connection.h): select waits in real time up to its time-out
//    for the server's answer, recv takes what waits, and then 0 once the
//    server closed; a blocking recv waits for the answer, a non-blocking
//    one fails with WSAEWOULDBLOCK;
//  - a server whose file says refuse first N refuses its first N connects
//    as a host with nothing listening does: WSAECONNREFUSED from a blocking
//    connect; a non-blocking one is under way, then in select's exception
//    set with SO_ERROR WSAECONNREFUSED (connect's page);
//  - what a played connection notes (a reset) goes to PlayedNote
//    (played_notes.h) as the receive or send that meets it returns.
#pragma once

#include "wire/device_file.h"
#include "wire/port_names.h"
#include "wire/wire_calls.h"

namespace nbwire {

// Plays `file` as the server at `address` from the next connection; a
// connection open now keeps its server until it is closed. Each connection
// has a server of its own, started at its connect.
void PlayServer(const ServerAddress& address, const nbdevice::DeviceFile& file);
// The network serves `address` again from the next connection.
void StopServer(const ServerAddress& address);
void StopServers();
// Whether a server is played, or a played connection is still open.
bool ServersActive();

// The played servers' functions, for the chain.
WireLayer ServerLayer();

}  // namespace nbwire

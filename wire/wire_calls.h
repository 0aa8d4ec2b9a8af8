// The calls through which a comm plug-in reaches its ports, files and the
// network: the kernel32 port and file calls and the Windows Sockets calls
// that the wire stands in front of. One list, from which the table of
// functions, the import slots and the chain's front functions are made.
//
// Each layer of the wire (the spy, the played ports, the played servers)
// fills a WireCalls with its own functions, leaving null the calls it does
// not take, and passes every call on through the WireCalls the chain gives
// it (chain.h): the layer below, or the function the module imported.
#pragma once

#include <winsock.h>
#include <windows.h>

namespace nbwire {

#define NBWIRE_PORT_CALLS(X)                                                                   \
  X(CreateFileA) X(CloseHandle) X(ReadFile) X(WriteFile) X(GetFileType) X(GetCommState)       \
  X(SetCommState) X(GetCommTimeouts) X(SetCommTimeouts) X(ClearCommError) X(SetupComm)        \
  X(GetCommProperties) X(GetCommModemStatus) X(EscapeCommFunction)
#define NBWIRE_SOCKET_CALLS(X)                                                                 \
  X(WSAStartup) X(WSACleanup) X(gethostbyname) X(getservbyname) X(gethostname) X(socket)      \
  X(setsockopt) X(getsockopt) X(connect) X(ioctlsocket) X(select) X(send) X(recv)             \
  X(closesocket)

struct WireCalls {
#define NBWIRE_FIELD(name) decltype(&::name) name = nullptr;
  NBWIRE_PORT_CALLS(NBWIRE_FIELD)
  NBWIRE_SOCKET_CALLS(NBWIRE_FIELD)
#undef NBWIRE_FIELD
};

// Where the calls of each list are imported from. Windows Sockets 1.1
// (WSOCK32) is what the comm plug-ins import; a build that took version 2's
// library (WS2_32) imports the same functions under the same names.
constexpr const char* kPortDll = "KERNEL32.dll";
constexpr const char* kSocketDlls[] = {"WSOCK32.dll", "WS2_32.dll"};

// One layer of the wire: its functions, and the table it passes calls on
// through (which the chain fills as layers come and go).
struct WireLayer {
  WireCalls calls;
  WireCalls* next;
};

}  // namespace nbwire

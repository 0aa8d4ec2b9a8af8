// Simulated ports: COM ports served by played devices (device files, see
// device_file.h) instead of the system, so a dialogue can be tried before
// the device is on the desk and without a driver for virtual ports.
//
// These functions are a layer of the chain (chain.h) in front of the comm
// plug-ins' port calls; calls on other names and handles pass on unchanged.
// The plug-in sees an ordinary Windows port, as windows_port.h describes
// one (the same model the tests' fake device follows):
//  - every name Windows opens the port under (port_names.h: "COM1",
//    "COM1:", "COM1.0", "\\.\COM12") opens it; a second open while it is
//    open is refused with error 5, as Windows refuses it; OPEN_ALWAYS and
//    CREATE_ALWAYS leave error 183, CREATE_NEW fails with 80.
//  - GetCommState returns what SetCommState set (settings the Windows
//    driver refuses fail with 87), time-outs read back as set; both stay
//    from one open to the next while the same device is played, as the
//    Windows driver keeps them; all three read time-outs MAXDWORD are
//    refused (87). The receive queue holds 4096 bytes, or what SetupComm
//    asks for if that is more (what does not fit is lost and reported as
//    CE_RXOVER, as a real port does; with fAbortOnError reads and writes
//    then fail with 995 until ClearCommError).
//  - ClearCommError reports the bytes waiting; WriteFile takes the bytes'
//    line time at the rate and framing set (cut by a shorter total write
//    time-out) and the device hears them as it ends; the device's bytes
//    arrive one after another at that rate; ReadFile waits as the port's
//    COMMTIMEOUTS say. A read or write that nothing could ever end (all 0
//    with nothing more to come) returns at once with what it has: nothing
//    can come while the single-threaded host waits in the call, and a real
//    port would hold it for ever.
//  - A device file's unplug removes the device: the port's names fail to
//    open with 2, every call on the handle opened before fails with the
//    file's removal code (22 by default), CloseHandle succeeds; once
//    plugged in the port opens again after that handle is closed (5 until
//    then). A port stays unplugged across closes until its plug in.
//  - The device's line faults (parity, framing, overrun, break) are
//    reported once each by the next ClearCommError (CE_RXPARITY, CE_FRAME,
//    CE_OVERRUN, CE_BREAK) and, with fAbortOnError, fail reads and writes
//    with 995 until then; GetCommModemStatus reports the device's modem
//    lines, which flow control honours (a send waits while CTS is low with
//    fOutxCtsFlow). The device sees the host's DTR and RTS as the open,
//    SetCommState, EscapeCommFunction and the close drive them.
//  - The last error after a call is the call's failure, or what it was
//    before the call when it succeeded.
// Time is wall-clock time: the device's output falls due as it passes and
// is released into the receive queue whenever the plug-in calls the port
// (the host is single-threaded, so nothing happens between calls).
#pragma once

#include <string>

#include "wire/device_file.h"
#include "wire/wire_calls.h"

namespace nbdevice {

// Plays `file` on `port` ("COM12") from its next open; an open port keeps
// its device until it is closed. Settings and time-outs of a port stay from
// one open to the next while the same device is played.
void PlayPort(const std::string& port, const DeviceFile& file);
// The system serves `port` again from its next open.
void StopPort(const std::string& port);
void StopPorts();
// Whether a port is played, or a played port is still open.
bool PortsActive();

// The simulated ports' functions, for the chain.
nbwire::WireLayer PortLayer();

}  // namespace nbdevice

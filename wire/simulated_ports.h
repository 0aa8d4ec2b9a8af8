// Simulated ports: COM ports served by played devices (device files, see
// device_file.h) instead of the system, so a dialogue can be tried before
// the device is on the desk and without a driver for virtual ports.
//
// These functions are a layer of the chain (chain.h) in front of the comm
// plug-ins' port calls; calls on other names and handles pass on unchanged.
// The plug-in sees an ordinary Windows port, as port_model.h describes one:
//  - every name Windows opens the port under (port_names.h: "COM1",
//    "COM1:", "COM1.0", "\\.\COM12") opens it; a second open while it is
//    open is refused with error 5, as Windows refuses it; OPEN_ALWAYS and
//    CREATE_ALWAYS leave error 183, CREATE_NEW fails with 80.
//  - GetCommState returns what SetCommState set (settings the Windows
//    driver refuses fail with 87), time-outs read back as set (all 0 after
//    an open), the receive queue holds 4096 bytes, or what SetupComm asks
//    for if that is more (what does not fit is lost and reported as
//    CE_RXOVER, as a real port does).
//  - ClearCommError reports the bytes waiting; WriteFile hands every byte
//    to the device at once; the device's bytes arrive one after another at
//    the rate and framing set; ReadFile waits as the port's COMMTIMEOUTS
//    say, including for ever for a count that never comes when they are
//    all 0.
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

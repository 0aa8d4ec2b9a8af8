// The chain: what stands between the served comm modules and the system.
//
// Each served module gets one redirection: the slot of every call in the
// list (wire_calls.h) leads to a front function of the chain, which passes
// the call through the spy (when it is on), then the played devices (when
// any are played), then to the function the module imported. The spy sits
// in front, so it logs a played port or server as it logs a real one. When
// neither is on, every slot holds again what the module was loaded with.
//
// Changes take effect between calls: the host calls one plug-in at a time,
// on one thread, and a wb action or the runner changes the chain while no
// comm call is under way.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

#include "wire/device_file.h"
#include "wire/port_names.h"

namespace nbwire {

// Serves `module` from now on (again: nothing changes); its slots are
// redirected whenever the spy or a device is on.
void Serve(HMODULE module);

// The spy logs every exchange of the served modules to `out` from now on,
// in the spy log's format (spy_log.h); nullptr ends it. The file stays the
// caller's. The log shows the time from this call.
void SpyTo(std::FILE* out);
// Writes what the spy holds back before the host prints (nbspy::Spy::Flush).
void FlushSpy();
// Writes all the spy holds back, before its log is read (nbspy::Spy::Finish).
void FinishSpy();

// Plays the device `file` describes on `place` from its next open: a port
// or a TCP server as wlTCPopen reaches it. A port or connection open now
// keeps what it had until it is closed.
void Play(const Place& place, const nbdevice::DeviceFile& file);
// The same for a place's text ("COM3", "\\.\COM12", "127.0.0.7:5000",
// "scale.local:7000"); false when it names neither a port nor a server.
bool Play(const std::string& place, const nbdevice::DeviceFile& file);
// Gives `place` back to the system from its next open.
void StopPlaying(const Place& place);

// Ends the spy and every device and puts every slot back: the runner at
// its end, Wirebench when it is unloaded. A played port or connection
// still open keeps its module's slots until it is closed and the chain
// changes again. What the chain holds lives until then, never by the
// destructors that run at process exit: the process's end touches nothing.
void Detach();

}  // namespace nbwire

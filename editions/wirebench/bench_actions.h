// Wirebench's actions: the runner's played devices and byte spy inside the
// host itself (wire/chain.h), over the comm plug-ins loaded in the same
// process, found by what they are (wire/comm_modules.h). Each action first
// looks for comm plug-ins loaded since the one before, and reports in
// [wbErr] (bench_errors.h) and [wbErrText].
#pragma once

#include <string>

namespace wl {
namespace wirebench {

// "PORT,FILE": the device FILE describes answers on PORT (COMn, or
// HOST:PORT as wlTCPopen is given it) from its next open; "PORT," gives
// PORT back to the system.
void wbPlay(const std::string& parameters);
// "FILE": every exchange of the comm plug-ins is added to FILE from now
// on, in the spy log's format; "" ends it and closes the file.
void wbSpy(const std::string& parameters);
// "LOG,PORT,FILE": writes to FILE the device file that answers as the
// device on PORT in the spy log LOG did (PORT empty: the first the log
// shows).
void wbSpyToDevice(const std::string& parameters);

// Unloaded before the process ends (FreeLibrary): the spy writes its last
// lines and its file closes, the devices stop, the comm plug-ins' slots
// are theirs again. At process exit nothing is called: the system releases
// all.
void Unload();

}  // namespace wirebench
}  // namespace wl

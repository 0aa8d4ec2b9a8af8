// Simulated ports: COM ports served by devices the runner plays (device
// files, see device_file.h) instead of the system, so a dialogue can be
// tried before the device is on the desk and without a driver for virtual
// ports.
//
// The plug-in's port calls are redirected here through its import table
// (import_redirect.h); calls on other names and handles pass on unchanged.
// The plug-in sees an ordinary Windows port:
//  - "COM1" to "COM9" and "\\.\COMn" open it; a second open while it is
//    open is refused with error 5, as Windows refuses it; OPEN_ALWAYS and
//    CREATE_ALWAYS leave error 183, CREATE_NEW fails with 80.
//  - GetCommState returns what SetCommState set (settings the Windows
//    driver refuses fail with 87), time-outs read back as set (all 0 after
//    an open), the receive queue holds 4096 bytes, or what SetupComm asks
//    for if that is more (what does not fit is lost and reported as
//    CE_RXOVER, as a real port does).
//  - ClearCommError reports the bytes waiting; WriteFile hands every byte
//    to the device at once; ReadFile waits as the port's COMMTIMEOUTS say,
//    including for ever for a count that never comes when they are all 0.
//  - The last error after a call is the call's failure, or what it was
//    before the call when it succeeded.
// Time is wall-clock time: the device's output falls due as it passes and
// is released into the receive queue whenever the plug-in calls the port
// (the runner is single-threaded, so nothing happens between calls).
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "wire/device_model.h"
#include "wire/import_redirect.h"

namespace nbdevice {

class SimulatedPorts {
 public:
  // Only one set of simulated ports exists at a time.
  SimulatedPorts();
  ~SimulatedPorts();
  SimulatedPorts(const SimulatedPorts&) = delete;
  SimulatedPorts& operator=(const SimulatedPorts&) = delete;

  // Plays `file` on `port` ("COM3", "COM12", "\\.\COM12"); false when that
  // names no port.
  bool add(const std::string& port, const DeviceFile& file);
  // Sends `module`'s port calls here; undone when this object goes.
  void attach(HMODULE module);

 private:
  std::unique_ptr<nbhooks::ImportRedirections> redirections_;
};

}  // namespace nbdevice

// The runner's options for the wire between the plug-in and its devices:
//
//   --spy[=FILE]              log every exchange with ports, files and the
//                             connection (wire/spy_hooks.h), on the screen or in FILE
//   --device COMn=FILE        play the device FILE describes on port COMn
//                             instead of the system (wire/simulated_ports.h); repeatable
//   --spy-to-device [COMn=]LOG  print a device file that answers as the
//                             device in a spy log did
//
// Devices and spy are put in the loaded plug-in's import table: the devices
// first, so the spy logs a simulated port as it logs a real one.
#pragma once

#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "wire/simulated_ports.h"
#include "wire/spy_hooks.h"

namespace nbrun {

struct WireOptions {
  bool spy = false;
  std::string spyFile;  // empty: the screen
  std::vector<std::pair<std::string, std::string>> devices;  // port, device file
  std::string spyToDevice;  // [COMn=]LOG
};

// Takes the option at argv[at] if it is one of the above: returns how many
// arguments it took, 0 when it is none of them, -1 when it is malformed.
int TakeWireOption(int argc, char** argv, int at, WireOptions& options);

// --spy-to-device: prints the device file; returns the exit code.
int PrintDeviceFromLog(const std::string& argument);

// The devices and the spy over a loaded plug-in, for as long as this lives.
class Wire {
 public:
  ~Wire();

 private:
  friend std::unique_ptr<Wire> AttachWire(HMODULE, const WireOptions&, std::string*);
  std::FILE* log_ = nullptr;  // a --spy=FILE
  std::unique_ptr<nbdevice::SimulatedPorts> ports_;
  std::unique_ptr<nbspy::Spy> spy_;
};

// Nothing to attach gives an empty Wire; a device file or log file that
// cannot be used gives nullptr and says why in `error`.
std::unique_ptr<Wire> AttachWire(HMODULE module, const WireOptions& options, std::string* error);

}  // namespace nbrun

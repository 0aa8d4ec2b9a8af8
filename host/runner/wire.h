// The runner's options for the wire between the plug-ins and their devices:
//
//   --spy[=FILE]              log every exchange with ports, files and the
//                             connection (wire/spy_hooks.h), on the screen or in FILE
//   --device PLACE=FILE       play the device FILE describes instead of the
//                             system (wire/chain.h); PLACE is a port (COM3) or
//                             a TCP server (127.0.0.7:5000); repeatable
//   --spy-to-device [PLACE=]LOG  print a device file that answers as the
//                             device in a spy log did
//
// Devices and spy stand in front of every comm plug-in the runner loaded
// (wire/comm_modules.h), the spy in front of the devices, so it logs a
// played port or server as it logs a real one.
#pragma once

#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "wire/port_names.h"

namespace nbrun {

// A --device option: where, as written and as read, and the device file.
struct DeviceOption {
  std::string written;
  nbwire::Place place;
  std::string file;
};

struct WireOptions {
  bool spy = false;
  std::string spyFile;  // empty: the screen
  std::vector<DeviceOption> devices;
  std::string spyToDevice;  // [PLACE=]LOG
  bool seedGiven = false;   // --seed: every played device's random choices start from `seed`
  uint32_t seed = 0;
};

// Takes the option at argv[at] if it is one of the above: returns how many
// arguments it took, 0 when it is none of them, -1 when it is malformed,
// -2 for a second --device for a place another one plays, -3 for a seed
// that is not a whole number from 0 to 4294967295.
int TakeWireOption(int argc, char** argv, int at, WireOptions& options);

// --spy-to-device: prints the device file; returns the exit code.
int PrintDeviceFromLog(const std::string& argument);

// The devices and the spy over the loaded comm plug-ins, for as long as
// this lives.
class Wire {
 public:
  Wire() = default;
  ~Wire();
  Wire(const Wire&) = delete;
  Wire& operator=(const Wire&) = delete;

 private:
  friend std::unique_ptr<Wire> AttachWire(const std::vector<HMODULE>&, const WireOptions&, std::string*);
  std::FILE* log_ = nullptr;  // a --spy=FILE
};

// Nothing to attach gives an empty Wire; a device file or log file that
// cannot be used gives nullptr and says why in `error`.
std::unique_ptr<Wire> AttachWire(const std::vector<HMODULE>& plugIns, const WireOptions& options,
                                 std::string* error);

}  // namespace nbrun

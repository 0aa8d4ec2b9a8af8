#include "wire.h"

#include "host/nbhost.h"
#include "host/runner/warnings.h"
#include "wire/chain.h"
#include "wire/comm_modules.h"
#include "wire/device_from_log.h"
#include "wire/files.h"
#include "wire/port_names.h"
#include "wire/spy_log.h"

namespace nbrun {
namespace {

// "COM12=FILE" or "127.0.0.7:5000=FILE" into its place and the rest; the
// place is empty when the text before the first "=" names none.
DeviceOption PlaceAndFile(const std::string& text) {
  const size_t equals = text.find('=');
  DeviceOption option;
  if (equals != std::string::npos && nbwire::ParsePlace(text.substr(0, equals), option.place)) {
    option.written = text.substr(0, equals);
    option.file = text.substr(equals + 1);
  } else {
    option.file = text;
  }
  return option;
}

// "7" into the seed; false for anything but a whole number of 32 bits.
bool ReadSeed(const std::string& text, WireOptions& options) {
  if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  const unsigned long long seed = std::stoull(text);
  if (seed > 0xFFFFFFFFull) return false;
  options.seed = static_cast<uint32_t>(seed);
  options.seedGiven = true;
  return true;
}

}  // namespace

int TakeWireOption(int argc, char** argv, int at, WireOptions& options) {
  const std::string arg = argv[at];
  if (arg == "--spy" || arg.rfind("--spy=", 0) == 0) {
    options.spy = true;
    options.spyFile = arg.size() > 6 ? arg.substr(6) : std::string();
    return 1;
  }
  if (arg != "--device" && arg != "--spy-to-device" && arg != "--seed") return 0;
  if (at + 1 >= argc) return -1;
  const std::string value = argv[at + 1];
  if (arg == "--seed") return ReadSeed(value, options) ? 2 : -3;
  if (arg == "--spy-to-device") {
    options.spyToDevice = value;
    return 2;
  }
  const DeviceOption device = PlaceAndFile(value);
  if (device.written.empty() || device.file.empty()) return -1;
  for (const DeviceOption& earlier : options.devices) {
    if (nbwire::SamePlace(earlier.place, device.place)) return -2;  // one device a place
  }
  options.devices.push_back(device);
  return 2;
}

int PrintDeviceFromLog(const std::string& argument) {
  const DeviceOption source = PlaceAndFile(argument);
  std::string log;
  if (const DWORD error = nbwire::ReadWholeFile(source.file, log)) {
    std::fprintf(stderr, "cannot read the spy log %s: %s\n", source.file.c_str(),
                 nbspy::ErrorText(error).c_str());
    return 2;
  }
  const nbdevice::LogConversion made = nbdevice::DeviceFromLog(log, source.written, source.file);
  if (!made.ok) {
    std::fprintf(stderr, "%s\n", made.error.c_str());
    return 2;
  }
  if (!made.warning.empty()) std::fprintf(stderr, "nbrun: warning: %s\n", made.warning.c_str());
  std::fputs(made.deviceFile.c_str(), stdout);
  return 0;
}

Wire::~Wire() {
  nbhost::SetCallbackObserver(nullptr);
  nbwire::Detach();
  if (log_ != nullptr) std::fclose(log_);
}

std::unique_ptr<Wire> AttachWire(const std::vector<HMODULE>& plugIns, const WireOptions& options,
                                 std::string* error) {
  auto wire = std::make_unique<Wire>();
  for (const DeviceOption& device : options.devices) {
    std::string text;
    if (const DWORD failed = nbwire::ReadWholeFile(device.file, text)) {
      *error = "cannot read the device file " + device.file + ": " + nbspy::ErrorText(failed);
      return nullptr;
    }
    nbdevice::ParsedFile parsed = nbdevice::ParseDeviceFile(text);
    if (!parsed.ok) {
      *error = device.file + " " + parsed.error;
      return nullptr;
    }
    if (options.seedGiven) {
      parsed.device.seed = options.seed;
      parsed.device.seedGiven = true;
    }
    nbwire::Play(device.place, parsed.device);
  }
  if (options.spy) {
    if (!options.spyFile.empty()) {
      DWORD failed = 0;
      wire->log_ = nbwire::OpenToWrite(options.spyFile, failed);
      if (wire->log_ == nullptr) {
        *error = "cannot write the spy log " + options.spyFile + ": " + nbspy::ErrorText(failed);
        return nullptr;
      }
    }
    nbwire::SpyTo(wire->log_ ? wire->log_ : stdout);
    nbhost::SetCallbackObserver(&nbwire::FlushSpy);
  }
  for (HMODULE module : plugIns) {
    if (nbwire::IsCommPlugIn(module)) nbwire::Serve(module);
  }
  return wire;
}

}  // namespace nbrun

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
std::pair<std::string, std::string> PlaceAndFile(const std::string& text) {
  const size_t equals = text.find('=');
  if (equals == std::string::npos) return {std::string(), text};
  const std::string place = text.substr(0, equals);
  nbwire::ServerAddress address;
  if (nbwire::NamedPort(place).empty() && !nbwire::ParseServerAddress(place, address)) {
    return {std::string(), text};
  }
  return {place, text.substr(equals + 1)};
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
  const auto device = PlaceAndFile(value);
  if (device.first.empty() || device.second.empty()) return -1;
  for (const auto& earlier : options.devices) {
    if (SamePlace(earlier.first, device.first)) return -2;  // one device a place
  }
  options.devices.push_back(device);
  return 2;
}

int PrintDeviceFromLog(const std::string& argument) {
  const auto source = PlaceAndFile(argument);
  std::string log;
  if (const DWORD error = nbwire::ReadWholeFile(source.second, log)) {
    std::fprintf(stderr, "cannot read the spy log %s: %s\n", source.second.c_str(),
                 nbspy::ErrorText(error).c_str());
    return 2;
  }
  const nbdevice::LogConversion made = nbdevice::DeviceFromLog(log, source.first, source.second);
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
  for (const auto& device : options.devices) {
    std::string text;
    if (const DWORD failed = nbwire::ReadWholeFile(device.second, text)) {
      *error = "cannot read the device file " + device.second + ": " + nbspy::ErrorText(failed);
      return nullptr;
    }
    nbdevice::ParsedFile parsed = nbdevice::ParseDeviceFile(text);
    if (!parsed.ok) {
      *error = device.second + " " + parsed.error;
      return nullptr;
    }
    if (options.seedGiven) {
      parsed.device.seed = options.seed;
      parsed.device.seedGiven = true;
    }
    nbwire::Play(device.first, parsed.device);
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

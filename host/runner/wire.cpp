#include "wire.h"

#include <fstream>
#include <sstream>

#include "wire/device_from_log.h"
#include "host/nbhost.h"

namespace nbrun {
namespace {

bool ReadFileText(const std::string& path, std::string& text) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream all;
  all << file.rdbuf();
  text = all.str();
  return static_cast<bool>(file);
}

// "COM12=FILE" into its port and the rest; the port is empty when the text
// before the first "=" names none.
std::pair<std::string, std::string> PortAndFile(const std::string& text) {
  const size_t equals = text.find('=');
  const std::string port =
      equals == std::string::npos ? std::string() : nbdevice::NamedPort(text.substr(0, equals));
  return port.empty() ? std::make_pair(port, text) : std::make_pair(port, text.substr(equals + 1));
}

}  // namespace

int TakeWireOption(int argc, char** argv, int at, WireOptions& options) {
  const std::string arg = argv[at];
  if (arg == "--spy" || arg.rfind("--spy=", 0) == 0) {
    options.spy = true;
    options.spyFile = arg.size() > 6 ? arg.substr(6) : std::string();
    return 1;
  }
  if (arg != "--device" && arg != "--spy-to-device") return 0;
  if (at + 1 >= argc) return -1;
  const std::string value = argv[at + 1];
  if (arg == "--spy-to-device") {
    options.spyToDevice = value;
    return 2;
  }
  const auto device = PortAndFile(value);
  if (device.first.empty() || device.second.empty()) return -1;
  options.devices.push_back(device);
  return 2;
}

int PrintDeviceFromLog(const std::string& argument) {
  const auto source = PortAndFile(argument);
  std::string log;
  if (!ReadFileText(source.second, log)) {
    std::fprintf(stderr, "cannot read the spy log %s\n", source.second.c_str());
    return 2;
  }
  const nbdevice::LogConversion made = nbdevice::DeviceFromLog(log, source.first, source.second);
  if (!made.ok) {
    std::fprintf(stderr, "%s\n", made.error.c_str());
    return 2;
  }
  std::fputs(made.deviceFile.c_str(), stdout);
  return 0;
}

Wire::~Wire() {
  if (spy_) nbhost::SetCallbackObserver(nullptr);
  spy_.reset();  // before the devices it stands in front of
  ports_.reset();
  if (log_ != nullptr) std::fclose(log_);
}

std::unique_ptr<Wire> AttachWire(HMODULE module, const WireOptions& options, std::string* error) {
  auto wire = std::make_unique<Wire>();
  if (!options.devices.empty()) {
    wire->ports_ = std::make_unique<nbdevice::SimulatedPorts>();
    for (const auto& device : options.devices) {
      std::string text;
      if (!ReadFileText(device.second, text)) {
        *error = "cannot read the device file " + device.second;
        return nullptr;
      }
      const nbdevice::ParsedFile parsed = nbdevice::ParseDeviceFile(text);
      if (!parsed.ok) {
        *error = device.second + " " + parsed.error;
        return nullptr;
      }
      wire->ports_->add(device.first, parsed.device);
    }
    wire->ports_->attach(module);
  }
  if (options.spy) {
    if (!options.spyFile.empty()) {
      wire->log_ = std::fopen(options.spyFile.c_str(), "w");
      if (wire->log_ == nullptr) {
        *error = "cannot write the spy log " + options.spyFile;
        return nullptr;
      }
    }
    wire->spy_ = std::make_unique<nbspy::Spy>(wire->log_ ? wire->log_ : stdout);
    wire->spy_->attach(module);
    nbhost::SetCallbackObserver(&nbspy::Spy::Flush);
  }
  return wire;
}

}  // namespace nbrun

// The spy's log read back and a device made from it: any text gives a
// device file the reader takes, or a reason; a log line written for any
// bytes reads back as those bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "wire/device_from_log.h"
#include "wire/device_model.h"
#include "wire/spy_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);

  const nbdevice::LogConversion made = nbdevice::DeviceFromLog(input, "", "fuzz.log");
  if (made.ok) {
    const nbdevice::ParsedFile parsed = nbdevice::ParseDeviceFile(made.deviceFile);
    if (!parsed.ok) std::abort();  // the converter writes only files the reader takes
    nbdevice::Device device(parsed.device);
    device.open(0);
    device.hear(input.substr(0, 64), 10);
    device.advance(1000);
  } else if (made.error.empty()) {
    std::abort();
  }

  nbspy::LogRecord record;
  const std::string line = nbspy::DataLine(12.5, "COM3", '<', input, "(2 reads, came after 3.0)");
  if (!nbspy::ParseLogLine(line, record) || record.bytes != input) std::abort();
  if (!input.empty() && record.afterMs != 3.0) std::abort();
  return 0;
}

// The spy's log read back, a device made from it and its page: any text
// gives a device file the reader takes, or a reason, and a page whose data
// no text can end early; a log line written for any bytes reads back as
// those bytes; any words read as an event are written as words that read
// as the same event.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "wire/device_from_log.h"
#include "wire/device_model.h"
#include "wire/spy_log.h"
#include "wire/spy_view.h"

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

  const std::string page = nbspy::ViewPage(input, input.substr(0, 20));
  // The log's text never ends the data's script element: only the page's own two do.
  size_t ends = 0;
  for (size_t at = page.find("</"); at != std::string::npos; at = page.find("</", at + 1)) {
    if (page.compare(at, 9, "</script>") == 0) ++ends;
  }
  if (ends != 2) std::abort();

  nbspy::LogRecord record;
  const std::string line = nbspy::DataLine(12.5, "COM3", '<', input, "(2 reads, came after 3.0)");
  if (!nbspy::ParseLogLine(line, record) || record.bytes != input) std::abort();
  if (!input.empty() && record.afterMs != 3.0) std::abort();

  const nbspy::Event event = nbspy::ReadEvent(input);
  const std::string words = nbspy::EventText(event);
  if (!(nbspy::ReadEvent(words) == event) || nbspy::EventText(nbspy::ReadEvent(words)) != words) std::abort();
  return 0;
}

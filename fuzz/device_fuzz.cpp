// The device-file reader and the device at work: any text is read or
// refused with a line number, and a device from a file it read answers any
// byte stream, on a clock the fuzzer moves, within a bound of time per
// write, never holding more in its queue than the queue takes.
//
// The input is a device file, then a NUL, then what the plug-in writes:
// each byte of it after a NUL moves the clock by that many milliseconds.
// The port's rate is 9600 or 4800 baud, by the input's length.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "wire/device_model.h"

namespace {

// One write may take at most this long to be heard and answered.
constexpr auto kMostPerWrite = std::chrono::seconds(2);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find('\0');
  const std::string file = input.substr(0, split);
  const nbdevice::ParsedFile parsed = nbdevice::ParseDeviceFile(file);
  if (!parsed.ok) {
    if (parsed.error.rfind("line ", 0) != 0) std::abort();  // every refusal names its line
    return 0;
  }
  if (nbdevice::ParseDeviceFile(file).device.rules.size() != parsed.device.rules.size()) std::abort();
  if (split == std::string::npos) return 0;

  nbdevice::Device device(parsed.device);
  device.setQueueSize(512);
  // Half the inputs play the port at a rate of its own: a file's baud then
  // meets one that differs or not.
  device.setRate(size % 2 ? 9600 : 4800);
  nbdevice::Millis now = 0;
  device.open(now);
  size_t at = split + 1;
  while (at < input.size()) {
    size_t end = input.find('\0', at);
    if (end == std::string::npos) end = input.size();
    const auto start = std::chrono::steady_clock::now();
    device.hear(input.substr(at, end - at), now);
    if (end > at) device.hostLines(input[at] & 1, input[at] & 2, now);  // DTR and RTS as the byte says
    device.takeLineNotes();
    device.advance(now);
    if (std::chrono::steady_clock::now() - start > kMostPerWrite) std::abort();
    if (device.waiting() > 512) std::abort();
    const size_t before = device.waiting();
    if (device.take(7).size() != (before < 7 ? before : 7)) std::abort();
    if (end < input.size() && end + 1 < input.size()) {
      now += static_cast<unsigned char>(input[end + 1]);
      ++end;
    }
    const nbdevice::Millis next = device.nextOutput();
    if (next != nbdevice::kNever && next <= now && device.waiting() == 0) {
      device.advance(now);  // output due by now must be in the queue once advanced
      if (device.nextOutput() <= now && device.nextOutput() != nbdevice::kNever) std::abort();
    }
    at = end + 1;
  }
  return 0;
}

// The device-file reader and the device at work: any text is read or
// refused with a line number, and a device from a file it read answers any
// byte stream, on a clock the fuzzer moves, within a bound of time per
// write, never holding more in its queue than the queue takes, and the
// same way every time: two devices of the same file fed the same bytes at
// the same times send the same bytes and note the same faults, the first
// note after the open being the seed. A device may rightly leave a write
// unanswered (a lost answer, a request whose checksum is wrong).
//
// The input is a device file, then a NUL, then what the plug-in writes:
// each byte of it after a NUL moves the clock by that many milliseconds.
// The port's rate is 9600 or 4800 baud, by the input's length; one input
// in four plays a server whose client holds its sends back (backpressure).
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "wire/device_model.h"

namespace {

// One write may take at most this long to be heard and answered.
constexpr auto kMostPerWrite = std::chrono::seconds(2);
constexpr size_t kQueue = 512;

void Set(nbdevice::Device& device, size_t size) {
  device.setQueueSize(kQueue);
  // Half the inputs play the port at a rate of its own: a file's baud then
  // meets one that differs or not.
  device.setRate(size % 2 ? 9600 : 4800);
  device.setByteTime(size % 3 ? 1042 : 0);
  device.setBackpressure(size % 4 == 0);
  device.setTimeOfDay(0, static_cast<int64_t>(size) * 86400000 / 7);
}

bool SameNotes(const std::vector<nbdevice::DeviceNote>& a, const std::vector<nbdevice::DeviceNote>& b) {
  if (a.size() != b.size()) return false;
  for (size_t k = 0; k < a.size(); ++k) {
    if (a[k].at != b[k].at || a[k].text != b[k].text) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find('\0');
  const std::string file = input.substr(0, split);
  const nbdevice::ParsedFile parsed = nbdevice::ParseDeviceFile(file);
  if (!parsed.ok) {
    if (parsed.error.rfind("line ", 0) != 0) std::abort();  // every refusal names its line
    if (nbdevice::ParseDeviceFile(file).error != parsed.error) std::abort();
    return 0;
  }
  if (nbdevice::ParseDeviceFile(file).device.rules.size() != parsed.device.rules.size()) std::abort();
  if (split == std::string::npos) return 0;

  nbdevice::Device device(parsed.device), twin(parsed.device);
  Set(device, size);
  Set(twin, size);
  nbdevice::Millis now = 0;
  device.open(now);
  twin.open(now);
  const std::vector<nbdevice::DeviceNote> first = device.takeNotes();
  if (first.empty() || first[0].text != "seed " + std::to_string(parsed.device.seed)) std::abort();
  twin.takeNotes();
  size_t at = split + 1;
  while (at < input.size()) {
    size_t end = input.find('\0', at);
    if (end == std::string::npos) end = input.size();
    const auto start = std::chrono::steady_clock::now();
    device.hear(input.substr(at, end - at), now);
    if (end > at) device.hostLines(input[at] & 1, input[at] & 2, now);  // DTR and RTS as the byte says
    device.advance(now);
    if (std::chrono::steady_clock::now() - start > kMostPerWrite) std::abort();
    twin.hear(input.substr(at, end - at), now);
    if (end > at) twin.hostLines(input[at] & 1, input[at] & 2, now);
    twin.advance(now);
    if (device.waiting() > kQueue) std::abort();
    if (device.peek(kQueue) != twin.peek(kQueue) || device.overflowed() != twin.overflowed()) std::abort();
    if (!SameNotes(device.takeNotes(), twin.takeNotes())) std::abort();
    const size_t before = device.waiting();
    if (device.take(7).size() != (before < 7 ? before : 7)) std::abort();
    twin.take(7);
    if (end < input.size() && end + 1 < input.size()) {
      now += static_cast<unsigned char>(input[end + 1]);
      ++end;
    }
    const nbdevice::Millis next = device.nextOutput();
    if (next != nbdevice::kNever && next <= now && device.waiting() == 0) {
      device.advance(now);  // output due by now must be in the queue once advanced
      twin.advance(now);
      if (device.nextOutput() <= now && device.nextOutput() != nbdevice::kNever) std::abort();
    }
    at = end + 1;
  }
  return 0;
}

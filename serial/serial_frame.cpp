#include "serial_frame.h"

#include <atomic>

#include "plugin/bridge.h"
#include "plugin/params.h"
#include "serial_rules.h"

namespace wl {
namespace {

// A field list kept from frame to frame, so that splitting a short parameter
// text allocates nothing (an allocation costs more than the rest of a
// query's own work). One frame holds it at a time, whatever the thread; a
// frame made while another holds it starts with a list of its own.
std::vector<std::string> spareFields;
std::atomic<bool> spareTaken{false};

}  // namespace

SerialFrame::SerialFrame() {
  if (!spareTaken.exchange(true, std::memory_order_acquire)) {
    fields.swap(spareFields);
    holdsSpare_ = true;
  }
}

SerialFrame::~SerialFrame() {
  if (!holdsSpare_) return;
  fields.clear();
  fields.swap(spareFields);
  spareTaken.store(false, std::memory_order_release);
}

int32_t SerialFrame::number(size_t k) const { return FieldInteger(fields[k]); }

std::string SerialFrame::deviceName() const { return PortDeviceName(port, fields[0]); }

void SerialFrame::publish() const { SetHostVariable("wlCommErr", NumberText(errorNumber)); }

bool BeginSerialAction(const std::string& parameters, FieldCount count, SerialFrame& frame,
                       const std::string& delimiter) {
  const int fields = CountFields(parameters, delimiter);
  if (fields < count.least || fields > count.most) return false;
  SplitFieldsInto(parameters, delimiter, frame.fields);
  const int64_t port = ToInteger(ReadNumber(frame.fields[0]));
  if (!PortInRange(port)) return false;
  frame.port = static_cast<int16_t>(port);
  return true;
}

}  // namespace wl

#include "serial_frame.h"

#include "plugin/bridge.h"
#include "plugin/params.h"
#include "serial_rules.h"

namespace wl {

int32_t SerialFrame::number(size_t k) const { return FieldInteger(fields[k]); }

std::string SerialFrame::deviceName() const { return PortDeviceName(port, fields[0]); }

void SerialFrame::publish() const { SetHostNumber("wlCommErr", errorNumber); }

bool BeginSerialAction(const std::string& parameters, FieldCount count, SerialFrame& frame,
                       const std::string& delimiter) {
  // Split first, then counted: one pass over the text (a send's can be long).
  SplitFieldsInto(parameters, delimiter, frame.fields);
  const int fields = static_cast<int>(frame.fields.size());
  if (fields < count.least || fields > count.most) return false;
  const int64_t port = ReadInteger(frame.fields[0]);
  if (!PortInRange(port)) return false;
  frame.port = static_cast<int16_t>(port);
  return true;
}

}  // namespace wl

// The serial actions in which Quillport differs from Wirelet: its opens
// start the port without flow control (it has no action to set it), its
// wlCommOpen installs port time-outs and publishes them, and a rate change
// sets the write time-out for the new rate; its buffer sizes are passed
// unlowered, and its line receive cuts lines by its own rule.
#pragma once

#include <string>

namespace wl {
namespace quillport {

void wlCommOpen(const std::string& parameters);
void wlCommOpenStd(const std::string& parameters);
void wlCommSetBaud(const std::string& parameters);
void wlCommSetTxBuffer(const std::string& parameters);
void wlCommSetRxBuffer(const std::string& parameters);
void wlCommRxLine(const std::string& parameters);

}  // namespace quillport
}  // namespace wl

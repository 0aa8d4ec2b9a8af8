// The serial actions in which Quillport differs from Wirelet: its open
// installs port time-outs and publishes them, its buffer sizes are passed
// unlowered, and its line receive cuts lines by its own rule.
#pragma once

#include <string>

namespace wl {
namespace quillport {

void wlCommOpen(const std::string& parameters);
void wlCommSetTxBuffer(const std::string& parameters);
void wlCommSetRxBuffer(const std::string& parameters);
void wlCommRxLine(const std::string& parameters);

}  // namespace quillport
}  // namespace wl

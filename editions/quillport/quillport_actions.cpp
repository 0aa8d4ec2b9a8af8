#include "quillport_actions.h"

namespace wl {
namespace quillport {

void wlCommOpen(const std::string&) {}
void wlCommSetTxBuffer(const std::string&) {}
void wlCommSetRxBuffer(const std::string&) {}
void wlCommRxLine(const std::string&) {}

}  // namespace quillport
}  // namespace wl

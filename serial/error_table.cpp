#include "error_table.h"

namespace wl {

int TranslateWindowsError(uint32_t code) {
  // Codes 0 to 39; anything from 40 on is 75, except 112 (disk full).
  static const unsigned char kLow[40] = {
      75,                                      // 0 (not a failure; never asked)
      75, 53, 76, 67, 70, 51, 241, 7, 241,     // 1-9
      241, 51, 51, 51, 7, 68, 75, 74, 53, 70,  // 10-19
      68, 71, 51, 72, 51, 72, 72, 72, 72, 72,  // 20-29
      72, 72, 70, 70, 72, 75, 70, 75, 62, 61,  // 30-39
  };
  if (code < 40) return kLow[code];
  return code == 112 ? kDiskFull : 75;
}

bool IsRemovalCode(uint32_t code) {
  switch (code) {
    case 5:     // ERROR_ACCESS_DENIED
    case 21:    // ERROR_NOT_READY
    case 22:    // ERROR_BAD_COMMAND
    case 31:    // ERROR_GEN_FAILURE
    case 995:   // ERROR_OPERATION_ABORTED
    case 1167:  // ERROR_DEVICE_NOT_CONNECTED
    case 1617:  // ERROR_DEVICE_REMOVED
      return true;
    default:
      return false;
  }
}

}  // namespace wl

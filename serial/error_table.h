// Windows error codes turned into the error numbers scripts see.
#pragma once

#include <cstdint>

namespace wl {

// The error number for a Windows error code read after a failed call.
int TranslateWindowsError(uint32_t code);

}  // namespace wl

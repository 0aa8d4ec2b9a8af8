#include "wall_clock.h"

#include <windows.h>

namespace nbwire {

nbdevice::Millis WallClockMs() {
  static const LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER count;
  QueryPerformanceCounter(&count);
  // In two steps, so the product cannot overflow in any uptime.
  const auto ticks = static_cast<nbdevice::Millis>(count.QuadPart);
  const auto perSecond = static_cast<nbdevice::Millis>(frequency.QuadPart);
  return ticks / perSecond * 1000 + ticks % perSecond * 1000 / perSecond;
}

int64_t UtcMs() {
  // FILETIME counts 100 ns from 1601-01-01; 1970 is 11,644,473,600 s later.
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const uint64_t ticks = (uint64_t(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return static_cast<int64_t>(ticks / 10000) - 11644473600000LL;
}

}  // namespace nbwire

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

}  // namespace nbwire

// The played devices' clock: milliseconds of real time, from the
// performance counter (monotonic, unlike the time of day).
#pragma once

#include "wire/device_model.h"

namespace nbwire {

nbdevice::Millis WallClockMs();

// The time of day: milliseconds since 1970-01-01 00:00 UTC, as the system
// clock has it (what a played GPS's {time} and {date} show).
int64_t UtcMs();

}  // namespace nbwire

// The played devices' clock: milliseconds of real time, from the
// performance counter (monotonic, unlike the time of day).
#pragma once

#include "wire/device_model.h"

namespace nbwire {

nbdevice::Millis WallClockMs();

}  // namespace nbwire

// The wire library's bounds, in one place.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nbwire {

// How often a wait that also covers sockets of the system looks at them.
constexpr uint32_t kSystemPollMs = 10;

// The longest single sleep of a played wait; a wait for ever sleeps in
// steps of this.
constexpr uint32_t kLongestSleepMs = 1000;

// Host names that can be played as servers (each takes one address of the
// loopback network 127.87.66.0).
constexpr size_t kMaxPlayedNames = 254;

}  // namespace nbwire

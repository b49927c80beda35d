#pragma once

#include <cstdint>

namespace xr {

// Time since system start-up on a monotonic clock.
uint64_t upTimeNanoseconds();
inline uint64_t upTimeMilliseconds() { return upTimeNanoseconds() / 1000000u; }

}  // namespace xr

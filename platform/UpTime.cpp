#include "platform/UpTime.h"

#include <time.h>

namespace xr {

// CLOCK_MONOTONIC: counts from start-up, never jumps with the wall clock, and is the clock
// behind std::chrono::steady_clock, so up-times and deadlines compare.
uint64_t upTimeNanoseconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

}  // namespace xr

#pragma once

#include <cstdint>

namespace xr {

// Millisecond stop-watch on the up-time clock. Counts are unsigned 32-bit and wrap.
class TimeMaster {
 public:
  static uint32_t systemTimeInMilliseconds();
  // A platform duration (positive: milliseconds, negative: microseconds) as milliseconds.
  static uint32_t millisecondsFromDuration(int32_t duration);

  void startStopWatch();
  uint32_t endStopWatch();

  uint32_t startTime = 0;
  uint32_t endTime = 0;
  uint32_t timeDifference = 0;
};

}  // namespace xr

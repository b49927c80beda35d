#include "serial/TimeMaster.h"

#include <limits>

#include "platform/UpTime.h"

namespace xr {
uint32_t TimeMaster::millisecondsFromDuration(int32_t duration) {
  if (duration >= 0) return static_cast<uint32_t>(duration);
  return static_cast<uint32_t>(-(duration / 1000));
}

// The up-time is a microsecond duration while that fits (about 35 minutes), then plain
// milliseconds. A duration would saturate after 24 days; the count wraps instead, as
// every 32-bit millisecond stamp here does.
uint32_t TimeMaster::systemTimeInMilliseconds() {
  const uint64_t us = upTimeNanoseconds() / 1000u;
  if (us <= static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
    return millisecondsFromDuration(-static_cast<int32_t>(us));
  }
  return static_cast<uint32_t>(us / 1000u);
}

void TimeMaster::startStopWatch() { startTime = systemTimeInMilliseconds(); }

uint32_t TimeMaster::endStopWatch() {
  endTime = systemTimeInMilliseconds();
  timeDifference = endTime - startTime;
  return timeDifference;
}

}  // namespace xr

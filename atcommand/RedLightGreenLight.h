#pragma once

#include "platform/ConditionLock.h"

namespace xr {

// A two-state signal over a condition lock: 0 red (the sender waits), 1 green (the reply
// is in). Waiting takes the light back to red.
class RedLightGreenLight : public ConditionLock {
 public:
  static constexpr int kRed = 0;
  static constexpr int kGreen = 1;

  RedLightGreenLight() : ConditionLock(kRed) {}  // initGreenLight: starts red

  void greenLight();
  void redLight();
  // Waits for green until the deadline; true when it came (the light is red again).
  bool timedRedLight(Clock::time_point deadline);
};

}  // namespace xr

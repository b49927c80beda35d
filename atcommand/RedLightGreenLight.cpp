#include "atcommand/RedLightGreenLight.h"

namespace xr {

void RedLightGreenLight::greenLight() {
  lock();
  unlockWithCondition(kGreen);
}

void RedLightGreenLight::redLight() {
  lockWhenCondition(kGreen);
  unlockWithCondition(kRed);
}

bool RedLightGreenLight::timedRedLight(Clock::time_point deadline) {
  if (!lockWhenCondition(kGreen, deadline)) return false;
  unlockWithCondition(kRed);
  return true;
}

}  // namespace xr

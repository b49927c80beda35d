#include "platform/ConditionLock.h"

namespace xr {

int ConditionLock::condition() const {
  std::lock_guard lock(mutex_);
  return condition_;
}

void ConditionLock::lock() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return !locked_; });
  locked_ = true;
}

void ConditionLock::unlock() {
  {
    std::lock_guard lock(mutex_);
    locked_ = false;
  }
  changed_.notify_all();
}

void ConditionLock::lockWhenCondition(int c) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return !locked_ && condition_ == c; });
  locked_ = true;
}

bool ConditionLock::lockWhenCondition(int c, Clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  if (!changed_.wait_until(lock, deadline, [&] { return !locked_ && condition_ == c; })) return false;
  locked_ = true;
  return true;
}

void ConditionLock::unlockWithCondition(int c) {
  {
    std::lock_guard lock(mutex_);
    condition_ = c;
    locked_ = false;
  }
  changed_.notify_all();
}

}  // namespace xr

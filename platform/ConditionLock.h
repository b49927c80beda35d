#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace xr {

// A lock carrying an integer condition.
class ConditionLock {
 public:
  using Clock = std::chrono::steady_clock;

  explicit ConditionLock(int condition = 0) : condition_(condition) {}
  ConditionLock(const ConditionLock&) = delete;
  ConditionLock& operator=(const ConditionLock&) = delete;

  int condition() const;
  void lock();
  void unlock();
  // Waits until the condition equals c and takes the lock.
  void lockWhenCondition(int c);
  // The same, giving up at the deadline: false (lock not taken) on time-out.
  bool lockWhenCondition(int c, Clock::time_point deadline);
  // Releases the lock, setting the condition.
  void unlockWithCondition(int c);

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool locked_ = false;
  int condition_;
};

}  // namespace xr

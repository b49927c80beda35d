#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/ConditionLock.h"

namespace xr {
namespace {

using namespace std::chrono_literals;
using Clock = ConditionLock::Clock;

// Two threads hand the lock back and forth; every hand-over must wake the other side and
// show it the other's write.
TEST(ConditionLockTest, PingPongHandsOverEveryTurn) {
  ConditionLock lock(0);
  int counter = 0;
  const int turns = 2000;
  std::thread other([&] {
    for (int i = 0; i < turns; ++i) {
      lock.lockWhenCondition(1);
      ++counter;
      lock.unlockWithCondition(0);
    }
  });
  for (int i = 0; i < turns; ++i) {
    lock.lockWhenCondition(0);
    ASSERT_EQ(counter, i);
    lock.unlockWithCondition(1);
  }
  ASSERT_TRUE(lock.lockWhenCondition(0, Clock::now() + 10s));
  EXPECT_EQ(counter, turns);
  lock.unlock();
  other.join();
}

TEST(ConditionLockTest, DeadlineGivesUpWithoutTakingTheLock) {
  ConditionLock lock(3);
  auto deadline = Clock::now() + 30ms;
  EXPECT_FALSE(lock.lockWhenCondition(1, deadline));
  EXPECT_GE(Clock::now(), deadline);
  // A held lock blocks even the matching condition.
  lock.lock();
  EXPECT_FALSE(lock.lockWhenCondition(3, Clock::now() + 20ms));
  lock.unlock();
  // Not taken by the failed waits: the matching condition locks at once, even past its deadline.
  EXPECT_TRUE(lock.lockWhenCondition(3, Clock::now() - 1s));
  lock.unlock();
}

}  // namespace
}  // namespace xr

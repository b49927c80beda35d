#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/ConditionLock.h"
#include "platform/UpTime.h"

namespace xr {
namespace {

using namespace std::chrono_literals;

TEST(ConditionLockTest, WaitsForTheConditionSetByAnotherThread) {
  ConditionLock lock(0);
  std::atomic<bool> got{false};
  std::thread waiter([&] {
    lock.lockWhenCondition(1);
    got = true;
    lock.unlockWithCondition(2);
  });
  lock.lock();
  EXPECT_FALSE(got);
  lock.unlockWithCondition(1);
  ASSERT_TRUE(lock.lockWhenCondition(2, ConditionLock::Clock::now() + 10s));
  EXPECT_TRUE(got);
  lock.unlock();
  waiter.join();
}

TEST(ConditionLockTest, DeadlineGivesUpWithoutTakingTheLock) {
  ConditionLock lock(0);
  auto deadline = ConditionLock::Clock::now() + 30ms;
  EXPECT_FALSE(lock.lockWhenCondition(1, deadline));
  EXPECT_GE(ConditionLock::Clock::now(), deadline);
  // Not taken: the matching condition locks at once, even with a deadline already passed.
  EXPECT_TRUE(lock.lockWhenCondition(0, ConditionLock::Clock::now() - 1s));
  lock.unlock();
}

TEST(ConditionLockTest, HeldLockBlocksTheMatchingCondition) {
  ConditionLock lock(3);
  lock.lock();
  EXPECT_FALSE(lock.lockWhenCondition(3, ConditionLock::Clock::now() + 20ms));
  lock.unlock();
  EXPECT_TRUE(lock.lockWhenCondition(3, ConditionLock::Clock::now() + 10s));
  EXPECT_EQ(lock.condition(), 3);
  lock.unlockWithCondition(4);
  EXPECT_EQ(lock.condition(), 4);
}

// Two threads hand the lock back and forth; every hand-over must see the other's write.
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
  lock.lockWhenCondition(0);
  EXPECT_EQ(counter, turns);
  lock.unlock();
  other.join();
}

TEST(UpTimeTest, RunsWithTheSteadyClock) {
  uint64_t before = upTimeNanoseconds();
  auto start = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - start < 5ms) {
  }
  uint64_t after = upTimeNanoseconds();
  EXPECT_GE(after - before, 5000000u);
  EXPECT_GT(upTimeMilliseconds(), 0u);
  EXPECT_LE(upTimeMilliseconds(), upTimeNanoseconds() / 1000000u);
}

}  // namespace
}  // namespace xr

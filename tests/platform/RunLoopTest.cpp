#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "platform/RunLoop.h"

namespace xr {
namespace {

using namespace std::chrono_literals;
using Clock = RunLoop::Clock;

Clock::time_point in(Clock::duration d) { return Clock::now() + d; }

TEST(RunLoopTest, SignalFromAnotherThreadWakesTheLoopAndRunsOnItsThread) {
  RunLoop& loop = RunLoop::current();
  std::thread::id performedOn;
  int performed = 0;
  auto source = std::make_shared<RunLoopSource>([&] {
    performedOn = std::this_thread::get_id();
    ++performed;
  });
  loop.addSource(source);
  std::thread signaller([&] { source->signal(); });
  EXPECT_TRUE(loop.runOnce(in(10s)));
  signaller.join();
  EXPECT_EQ(performed, 1);
  EXPECT_EQ(performedOn, std::this_thread::get_id());
  loop.removeSource(source);
  EXPECT_EQ(loop.sourceCount(), 0u);
}

TEST(RunLoopTest, NothingIsPerformedUntilTheLoopRuns) {
  RunLoop& loop = RunLoop::current();
  std::atomic<int> performed{0};
  auto source = std::make_shared<RunLoopSource>([&] { ++performed; });
  loop.addSource(source);
  std::thread signaller([&] {
    for (int i = 0; i < 3; ++i) source->signal();
  });
  signaller.join();
  EXPECT_EQ(performed, 0);
  // Signals coalesce; a deadline already passed still performs what is pending.
  EXPECT_TRUE(loop.runOnce(Clock::now()));
  EXPECT_EQ(performed, 1);
  EXPECT_FALSE(loop.runOnce(in(20ms)));
  EXPECT_EQ(performed, 1);
}

TEST(RunLoopTest, SourceSignalledBeforeItIsAddedRunsOnceAdded) {
  int performed = 0;
  auto source = std::make_shared<RunLoopSource>([&] { ++performed; });
  source->signal();
  RunLoop::current().addSource(source);
  EXPECT_TRUE(RunLoop::current().runOnce(in(10s)));
  EXPECT_EQ(performed, 1);
}

TEST(RunLoopTest, EachThreadRunsOnlyItsOwnSources) {
  RunLoop& mine = RunLoop::current();
  std::atomic<int> mineRuns{0}, otherRuns{0};
  auto mySource = std::make_shared<RunLoopSource>([&] { ++mineRuns; });
  mine.addSource(mySource);
  std::thread other([&] {
    RunLoop& theirs = RunLoop::current();
    EXPECT_NE(&theirs, &mine);
    auto theirSource = std::make_shared<RunLoopSource>([&] { ++otherRuns; });
    theirs.addSource(theirSource);
    mySource->signal();
    theirSource->signal();
    EXPECT_TRUE(theirs.runOnce(in(10s)));
    EXPECT_EQ(mineRuns, 0);
  });
  other.join();
  EXPECT_EQ(otherRuns, 1);
  EXPECT_EQ(mineRuns, 0);
  EXPECT_TRUE(mine.runOnce(in(10s)));
  EXPECT_EQ(mineRuns, 1);
}

TEST(RunLoopTest, InvalidatedOrDestroyedSourcesAreNotPerformed) {
  RunLoop& loop = RunLoop::current();
  int performed = 0;
  auto invalidated = std::make_shared<RunLoopSource>([&] { ++performed; });
  auto destroyed = std::make_shared<RunLoopSource>([&] { ++performed; });
  loop.addSource(invalidated);
  loop.addSource(destroyed);
  invalidated->signal();
  destroyed->signal();
  invalidated->invalidate();
  EXPECT_FALSE(invalidated->isValid());
  destroyed.reset();
  EXPECT_EQ(loop.sourceCount(), 1u);
  EXPECT_FALSE(loop.runOnce(in(20ms)));
  invalidated->signal();
  EXPECT_FALSE(loop.runOnce(Clock::now()));
  EXPECT_EQ(performed, 0);
  loop.removeSource(invalidated);
}

TEST(RunLoopTest, PerformMayInvalidateOrStopItsOwnLoop) {
  RunLoop& loop = RunLoop::current();
  std::shared_ptr<RunLoopSource> source;
  int performed = 0;
  source = std::make_shared<RunLoopSource>([&] {
    ++performed;
    source->invalidate();
    loop.stop();
  });
  loop.addSource(source);
  source->signal();
  auto deadline = in(10s);
  loop.runUntil(deadline);
  EXPECT_LT(Clock::now(), deadline);
  EXPECT_EQ(performed, 1);
  loop.removeSource(source);
}

TEST(RunLoopTest, RunUntilEndsAtTheDeadlineOnStopOrAtOnceWithoutSources) {
  RunLoop& loop = RunLoop::current();
  loop.runUntil(in(10s));  // no sources: returns at once
  auto source = std::make_shared<RunLoopSource>([] {});
  loop.addSource(source);
  auto deadline = in(30ms);
  loop.runUntil(deadline);
  EXPECT_GE(Clock::now(), deadline);
  std::thread stopper([&] { loop.stop(); });
  deadline = in(10s);
  loop.runUntil(deadline);  // a stop that came before the run still ends it
  stopper.join();
  EXPECT_LT(Clock::now(), deadline);
  loop.removeSource(source);
}

// Producers count up then signal; the loop must see every count, however the signals and its
// waits interleave: a lost wake-up leaves it waiting until the deadline.
TEST(RunLoopTest, NoWakeUpIsLostUnderConcurrentSignals) {
  RunLoop& loop = RunLoop::current();
  const int perProducer = 2000;
  std::atomic<int> produced{0};
  int seen = 0;
  auto source = std::make_shared<RunLoopSource>([&] {
    seen = produced.load();
    if (seen == 2 * perProducer) loop.stop();
  });
  loop.addSource(source);
  std::vector<std::thread> producers;
  for (int p = 0; p < 2; ++p) {
    producers.emplace_back([&] {
      for (int i = 0; i < perProducer; ++i) {
        ++produced;
        source->signal();
      }
    });
  }
  loop.runUntil(in(30s));
  for (auto& t : producers) t.join();
  EXPECT_EQ(seen, 2 * perProducer);
  loop.removeSource(source);
}

TEST(RunLoopTest, DestroyingASourceOnAnotherThreadWaitsForItsPerform) {
  RunLoop& loop = RunLoop::current();
  std::atomic<bool> inPerform{false}, release{false}, destroyed{false};
  bool destroyedDuringPerform = false;
  auto source = std::make_shared<RunLoopSource>([&] {
    inPerform = true;
    while (!release) std::this_thread::yield();
    std::this_thread::sleep_for(5ms);  // room for a destroyer that does not wait
    destroyedDuringPerform = destroyed;
  });
  loop.addSource(source);
  source->signal();
  std::thread destroyer([&, s = std::move(source)]() mutable {
    while (!inPerform) std::this_thread::yield();
    release = true;
    s.reset();
    destroyed = true;
  });
  EXPECT_TRUE(loop.runOnce(in(10s)));
  destroyer.join();
  EXPECT_FALSE(destroyedDuringPerform);
  EXPECT_EQ(loop.sourceCount(), 0u);
}

}  // namespace
}  // namespace xr

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "platform/Posix.h"
#include "platform/RunLoop.h"

namespace xr {
namespace {

using namespace std::chrono_literals;
using Clock = RunLoop::Clock;

Clock::time_point in(Clock::duration d) { return Clock::now() + d; }

// Every case leaves the thread's loop without sources.
class RunLoopTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(loop.sourceCount(), 0u); }
  RunLoop& loop = RunLoop::current();
};

TEST_F(RunLoopTest, SignalledValidSourcesArePerformedOnceWhenTheLoopRuns) {
  int performed = 0, wrongly = 0;
  auto source = std::make_shared<RunLoopSource>([&] { ++performed; });
  auto invalidated = std::make_shared<RunLoopSource>([&] { ++wrongly; });
  auto destroyed = std::make_shared<RunLoopSource>([&] { ++wrongly; });
  source->signal();  // before it is added: still pending once added
  for (const auto& s : {source, invalidated, destroyed}) loop.addSource(s);
  std::thread([&] {
    for (const auto& s : {source, source, invalidated, destroyed}) s->signal();
  }).join();
  EXPECT_EQ(performed, 0);
  invalidated->invalidate();
  destroyed.reset();
  EXPECT_EQ(loop.sourceCount(), 2u);
  // Signals coalesce; a deadline already passed still performs what is pending.
  EXPECT_TRUE(loop.runOnce(Clock::now()));
  EXPECT_EQ(performed, 1);
  invalidated->signal();
  EXPECT_FALSE(loop.runOnce(in(20ms)));
  EXPECT_EQ(performed, 1);
  EXPECT_EQ(wrongly, 0);
  loop.removeSource(source);
  loop.removeSource(invalidated);
}

TEST_F(RunLoopTest, RunUntilEndsAtTheDeadlineOnStopOrAtOnceWithoutSources) {
  auto deadline = in(10s);
  loop.runUntil(deadline);  // no sources
  EXPECT_LT(Clock::now(), deadline);
  const ScopedRunLoopSource idle(loop, std::make_shared<RunLoopSource>([] {}));
  // A perform may invalidate its own source and stop its own loop.
  std::shared_ptr<RunLoopSource> source;
  int performed = 0;
  source = std::make_shared<RunLoopSource>([&] {
    ++performed;
    source->invalidate();
    loop.stop();
  });
  const ScopedRunLoopSource scoped(loop, source);
  source->signal();
  deadline = in(10s);
  loop.runUntil(deadline);
  EXPECT_LT(Clock::now(), deadline);
  EXPECT_EQ(performed, 1);
  deadline = in(30ms);
  loop.runUntil(deadline);
  EXPECT_GE(Clock::now(), deadline);
  // A stop from another thread ends the run, whether it comes before the run or during it.
  for (bool joinFirst : {true, false}) {
    std::thread stopper([&] { loop.stop(); });
    if (joinFirst) stopper.join();
    deadline = in(10s);
    loop.runUntil(deadline);
    if (!joinFirst) stopper.join();
    EXPECT_LT(Clock::now(), deadline) << joinFirst;
  }
}

// Producers count up then signal; the loop must see every count, however the signals and its
// waits interleave: a lost wake-up leaves it waiting until the deadline.
TEST_F(RunLoopTest, NoWakeUpIsLostUnderConcurrentSignals) {
  const int perProducer = 2000;
  std::atomic<int> produced{0};
  int seen = 0;
  auto source = std::make_shared<RunLoopSource>([&] {
    seen = produced.load();
    if (seen == 2 * perProducer) loop.stop();
  });
  const ScopedRunLoopSource scoped(loop, source);
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
}

TEST_F(RunLoopTest, DestroyingASourceOnAnotherThreadWaitsForItsPerform) {
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
}

// A descriptor source sleeps with its loop until the descriptor has data, whichever thread
// writes it; leaving its scope takes it out of the loop, and a descriptor closed under the
// loop is dropped rather than spun on.
TEST_F(RunLoopTest, DescriptorSourcesArePerformedWhileTheirDescriptorIsReadable) {
  FileDescriptor readEnd, writeEnd;
  ASSERT_TRUE(makePipe(&readEnd, &writeEnd));
  std::string received;
  auto reader = [&] {
    char buf[64];
    ssize_t n = ::read(readEnd.get(), buf, sizeof buf);
    if (n > 0) received.append(buf, static_cast<size_t>(n));
  };
  {
    ScopedRunLoopSource scoped(loop, std::make_shared<RunLoopSource>(readEnd.get(), reader));
    EXPECT_FALSE(loop.runOnce(in(20ms)));
    std::thread writer([&] { ASSERT_EQ(::write(writeEnd.get(), "ab", 2), 2); });
    auto deadline = in(10s);
    EXPECT_TRUE(loop.runOnce(deadline));
    writer.join();
    EXPECT_LT(Clock::now(), deadline);
    EXPECT_EQ(received, "ab");
    ASSERT_EQ(::write(writeEnd.get(), "d", 1), 1);
    EXPECT_TRUE(loop.runOnce(Clock::now()));  // ready now: performed without waiting
    EXPECT_EQ(received, "abd");
    EXPECT_FALSE(loop.runOnce(Clock::now()));  // read empty: not performed again
  }

  int performed = 0;
  FileDescriptor closing, other;
  ASSERT_TRUE(makePipe(&closing, &other));
  ScopedRunLoopSource closed(loop, std::make_shared<RunLoopSource>(closing.get(), [&] { ++performed; }));
  closing.reset();
  const auto deadline = in(30ms);
  EXPECT_FALSE(loop.runOnce(deadline));
  EXPECT_GE(Clock::now(), deadline);
  EXPECT_EQ(performed, 0);
}

}  // namespace
}  // namespace xr

#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <thread>

#include "platform/SignalSource.h"
#include "support/Descriptors.h"

namespace xr {
namespace {

using namespace std::chrono_literals;

std::atomic<int> gEarlier{0};
void earlierHandler(int) { ++gEarlier; }

// SIGUSR1 and SIGUSR2 stand in for SIGINT and SIGTERM, which would reach the test runner.
TEST(SignalSourceTest, SignalsReachTheLoopExceptWhileBusyAndTheEarlierActionsComeBack) {
  const auto descriptors = test::openDescriptors();
  const auto saved = ::signal(SIGUSR1, earlierHandler);
  {
    std::vector<int> received;
    auto signals = SignalSource::create({SIGUSR1, SIGUSR2}, [&](int sig) { received.push_back(sig); });
    ASSERT_TRUE(signals);
    EXPECT_FALSE(SignalSource::create({SIGUSR1}, nullptr));  // one at a time
    ScopedRunLoopSource attached(RunLoop::current(), signals->source());

    raise(SIGUSR2);
    std::thread([] { raise(SIGUSR1); }).join();  // taken on another thread
    EXPECT_TRUE(RunLoop::current().runOnce(RunLoop::Clock::now() + 10s));
    EXPECT_EQ(received, (std::vector<int>{SIGUSR2, SIGUSR1}));
    EXPECT_EQ(gEarlier, 0);

    {
      SignalSource::Busy busy;
      raise(SIGUSR1);
    }
    EXPECT_EQ(gEarlier, 1);
    EXPECT_FALSE(RunLoop::current().runOnce(RunLoop::Clock::now()));
    EXPECT_EQ(received.size(), 2u);
  }
  // The actions before it are back (looked at by putting the test's own back).
  EXPECT_EQ(::signal(SIGUSR1, saved), earlierHandler);
  EXPECT_EQ(::signal(SIGUSR2, SIG_DFL), SIG_DFL);
  EXPECT_EQ(test::openDescriptors(), descriptors);
  EXPECT_EQ(RunLoop::current().sourceCount(), 0u);

  // Made again, over an ignored signal: it stays ignored.
  ::signal(SIGUSR2, SIG_IGN);
  int received = 0;
  auto again = SignalSource::create({SIGUSR2}, [&](int) { ++received; });
  ASSERT_TRUE(again);
  ScopedRunLoopSource attached(RunLoop::current(), again->source());
  raise(SIGUSR2);
  EXPECT_FALSE(RunLoop::current().runOnce(RunLoop::Clock::now() + 20ms));
  EXPECT_EQ(received, 0);
  ::signal(SIGUSR2, SIG_DFL);
}

}  // namespace
}  // namespace xr

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>

#include "platform/RunLoop.h"
#include "support/ProcessResources.h"
#include "tasks/AsynchronousTaskRunner.h"
#include "tasks/TaskTesting.h"

namespace xr {
namespace {

using namespace std::chrono_literals;
using Events = std::vector<std::string>;

// Records the callbacks as text: "started", "out:<text>", "out:nil", "ended".
struct RecordingClient : AsynchronousTaskRunnerClient {
  Events events;
  std::function<void()> onOutput;
  void taskStarted() override { events.push_back("started"); }
  void taskFinished() override { ADD_FAILURE() << "no runner sends taskFinished"; }
  void taskOutput(const std::optional<std::string>& output) override {
    events.push_back("out:" + output.value_or("nil"));
    if (onOutput) onOutput();
  }
  void taskEnded() override { events.push_back("ended"); }
  bool ended() const { return std::find(events.begin(), events.end(), "ended") != events.end(); }
  Events outputs() const {
    Events out;
    std::copy_if(events.begin(), events.end(), std::back_inserter(out), [](auto& e) { return e.starts_with("out:"); });
    return out;
  }
};

class AsyncTest : public ToolTest {
 protected:
  // Runs this thread's loop until done() or ten seconds have passed.
  bool runLoopUntil(const std::function<bool()>& done) {
    auto deadline = RunLoop::Clock::now() + 10s;
    while (!done() && RunLoop::Clock::now() < deadline) RunLoop::current().runOnce(deadline);
    return done();
  }
  // Runs the loop a little longer, for callbacks that must not come.
  void drainLoop() { RunLoop::current().runUntil(RunLoop::Clock::now() + 50ms); }

  RecordingClient client_;
};

TEST_F(AsyncTest, NothingArrivesUntilTheLoopRuns) {
  AsynchronousTaskRunner runner(&client_, script("tool", "printf abc"), {});
  runner.startTask();
  EXPECT_EQ(client_.events, Events{"started"});
  // The tool has ended and been reaped by the runner's waiter; still nothing is delivered.
  ASSERT_TRUE(test::eventually([&] { return !runner.task()->running(); }));
  EXPECT_EQ(client_.events, Events{"started"});
  // The end of the process and the last output may come in either order.
  ASSERT_TRUE(runLoopUntil([&] { return client_.events.size() == 3; }));
  EXPECT_EQ(client_.outputs(), Events{"out:abc"});
}

// The tool waits on a FIFO for a line before each further piece, so the pieces stay apart: a
// piece that is not UTF-8 arrives as nil, a character split between two pieces arrives whole.
TEST_F(AsyncTest, PiecesArriveInOrderThenTheEnd) {
  std::string fifo = dir_.file("handshake");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  FileDescriptor handshake(::open(fifo.c_str(), O_RDWR | O_CLOEXEC));
  client_.onOutput = [&] { EXPECT_EQ(::write(handshake.get(), "\n", 1), 1); };
  AsynchronousTaskRunner runner(&client_, script("tool", "printf one; read x < \"$1\"; printf 'caf\\351!';"
                                                         "read x < \"$1\"; printf 'x\\303'; read x < \"$1\"; printf '\\251'"),
                                {fifo});
  runner.startTask();
  ASSERT_TRUE(runLoopUntil([&] { return client_.events.size() == 6; }));
  drainLoop();
  // Four pieces and the start: the one other event is the end.
  EXPECT_EQ(client_.outputs(), (Events{"out:one", "out:nil", "out:x", "out:\xC3\xA9"}));
  EXPECT_EQ(client_.events.size(), 6u);
}

TEST_F(AsyncTest, StopTaskEndsTheToolAndTheOutput) {
  AsynchronousTaskRunner runner(&client_, script("tool", "echo first; while :; do echo more; sleep 0.01; done"), {});
  client_.onOutput = [&] { runner.stopTask(); };
  runner.startTask();
  ASSERT_TRUE(runLoopUntil([&] { return client_.ended(); }));
  drainLoop();
  // One piece (how much of the output it holds depends on the reads), then only the end.
  ASSERT_EQ(client_.events.size(), 3u);
  EXPECT_TRUE(client_.events[1].starts_with("out:first\n"));
  EXPECT_EQ(client_.events[2], "ended");
  EXPECT_FALSE(runner.task()->running());
}

TEST_F(AsyncTest, AToolThatCannotBeLaunchedStillEnds) {
  AsynchronousTaskRunner runner(&client_, dir_.file("missing"), {});
  runner.startTask();
  ASSERT_TRUE(runLoopUntil([&] { return client_.ended(); }));
  EXPECT_EQ(client_.events, (Events{"started", "ended"}));
}

TEST_F(AsyncTest, DestroyedWhileRunningWithoutTheLoopEverRunning) {
  // That the tool is killed and reaped is the process's test (and the fixture's check).
  {
    AsynchronousTaskRunner runner(&client_, "/usr/bin/yes", {});
    runner.startTask();
  }
  drainLoop();
  EXPECT_EQ(client_.events, Events{"started"});
  EXPECT_EQ(RunLoop::current().sourceCount(), 0u);
}

TEST_F(AsyncTest, DestroyedFromItsOwnOutputCallback) {
  auto runner = std::make_unique<AsynchronousTaskRunner>(&client_, "/usr/bin/yes", std::vector<std::string>{});
  client_.onOutput = [&] { runner.reset(); };
  runner->startTask();
  ASSERT_TRUE(runLoopUntil([&] { return runner == nullptr; }));
  drainLoop();
  ASSERT_EQ(client_.events.size(), 2u);
  EXPECT_TRUE(client_.events[1].starts_with("out:y\n"));
}

}  // namespace
}  // namespace xr

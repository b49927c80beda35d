#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "platform/RunLoop.h"
#include "tasks/AsynchronousTaskRunner.h"
#include "tasks/TaskTesting.h"

namespace xr {
namespace {

using namespace std::chrono_literals;

// Records the callbacks as text: "started", "out:<text>", "out:nil", "ended".
struct RecordingClient : AsynchronousTaskRunnerClient {
  std::vector<std::string> events;
  std::function<void()> onOutput;
  void taskStarted() override { events.push_back("started"); }
  void taskFinished() override { ADD_FAILURE() << "no runner sends taskFinished"; }
  void taskOutput(const std::optional<std::string>& output) override {
    events.push_back("out:" + output.value_or("nil"));
    if (onOutput) onOutput();
  }
  void taskEnded() override { events.push_back("ended"); }
  bool ended() const { return std::find(events.begin(), events.end(), "ended") != events.end(); }
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

  // A FIFO the tool reads a line from before each further piece, so pieces stay apart.
  std::string makeHandshake() {
    std::string path = dir_.file("handshake");
    EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
    handshake_.reset(::open(path.c_str(), O_RDWR | O_CLOEXEC));
    return path;
  }
  void nextPiece() { EXPECT_EQ(::write(handshake_.get(), "\n", 1), 1); }

  void TearDown() override {
    handshake_.reset();
    ToolTest::TearDown();
  }

  RecordingClient client_;
  FileDescriptor handshake_;
};

TEST_F(AsyncTest, NothingArrivesUntilTheLoopRuns) {
  auto runner = std::make_unique<AsynchronousTaskRunner>(&client_, script("tool", "printf abc"),
                                                         std::vector<std::string>{});
  runner->startTask();
  EXPECT_EQ(client_.events, std::vector<std::string>{"started"});
  // The tool has ended and been reaped by the runner's waiter; still nothing is delivered.
  auto deadline = std::chrono::steady_clock::now() + 10s;
  while (runner->task()->running() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  ASSERT_FALSE(runner->task()->running());
  EXPECT_EQ(client_.events, std::vector<std::string>{"started"});
  ASSERT_TRUE(runLoopUntil([&] { return client_.events.size() == 3; }));
  EXPECT_EQ(client_.events[0], "started");
  // The end of the process and the last output may come in either order.
  EXPECT_NE(std::find(client_.events.begin(), client_.events.end(), "out:abc"), client_.events.end());
  EXPECT_TRUE(client_.ended());
}

TEST_F(AsyncTest, ThreePiecesArriveInOrderThenTheEnd) {
  std::string fifo = makeHandshake();
  std::string tool = script("tool", "printf one; read x < \"$1\"; printf two; read x < \"$1\"; printf three");
  client_.onOutput = [&] { nextPiece(); };
  AsynchronousTaskRunner runner(&client_, tool, {fifo});
  runner.startTask();
  ASSERT_TRUE(runLoopUntil([&] { return client_.events.size() == 5; }));
  drainLoop();
  std::vector<std::string> outputs;
  for (const auto& e : client_.events) {
    if (e.starts_with("out:")) outputs.push_back(e);
  }
  EXPECT_EQ(outputs, (std::vector<std::string>{"out:one", "out:two", "out:three"}));
  EXPECT_EQ(std::count(client_.events.begin(), client_.events.end(), "ended"), 1);
  EXPECT_EQ(client_.events.size(), 5u);
}

TEST_F(AsyncTest, StopTaskEndsTheToolAndTheOutput) {
  std::string tool = script("tool", "echo first; while :; do echo more; sleep 0.01; done");
  AsynchronousTaskRunner runner(&client_, tool, {});
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

TEST_F(AsyncTest, PiecesThatAreNotUtf8ArriveAsNil) {
  std::string fifo = makeHandshake();
  std::string tool = script("tool", "printf 'caf\\351!'; read x < \"$1\"; printf ok");
  client_.onOutput = [&] { nextPiece(); };
  AsynchronousTaskRunner runner(&client_, tool, {fifo});
  runner.startTask();
  ASSERT_TRUE(runLoopUntil([&] { return client_.events.size() == 4; }));
  EXPECT_EQ(client_.events[1], "out:nil");
  EXPECT_NE(std::find(client_.events.begin(), client_.events.end(), "out:ok"), client_.events.end());
}

TEST_F(AsyncTest, ACharacterSplitBetweenReadsIsKeptWhole) {
  // The pause makes the two halves arrive apart most of the time; the outcome is the same.
  std::string tool = script("tool", "printf 'caf\\303'; sleep 0.1; printf '\\251'");
  AsynchronousTaskRunner runner(&client_, tool, {});
  runner.startTask();
  ASSERT_TRUE(runLoopUntil([&] { return client_.ended() && client_.events.size() >= 3; }));
  drainLoop();
  std::string text;
  for (const auto& e : client_.events) {
    ASSERT_NE(e, "out:nil");
    if (e.starts_with("out:")) text += e.substr(4);
  }
  EXPECT_EQ(text, "caf\xC3\xA9");
}

TEST_F(AsyncTest, AToolThatCannotBeLaunchedStillEnds) {
  AsynchronousTaskRunner runner(&client_, dir_.file("missing"), {});
  runner.startTask();
  EXPECT_EQ(runner.task(), nullptr);
  ASSERT_TRUE(runLoopUntil([&] { return client_.ended(); }));
  EXPECT_EQ(client_.events, (std::vector<std::string>{"started", "ended"}));
}

TEST_F(AsyncTest, DestroyedWhileRunningWithoutTheLoopEverRunning) {
  pid_t pid;
  {
    AsynchronousTaskRunner runner(&client_, "/usr/bin/yes", {});
    runner.startTask();
    pid = runner.task()->pid();
  }
  EXPECT_EQ(::kill(pid, 0), -1);  // killed and reaped (the fixture checks for zombies too)
  drainLoop();
  EXPECT_EQ(client_.events, std::vector<std::string>{"started"});
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

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <sstream>

#include "platform/Process.h"
#include "support/Descriptors.h"
#include "support/TempDirectory.h"

namespace xr {
namespace {

struct RunCase {
  const char* label;
  const char* script;
  std::string output;
  bool exited;
  int status;
  friend void PrintTo(const RunCase& c, std::ostream* os) { *os << c.label; }
};

class ProcessRunTest : public testing::TestWithParam<RunCase> {};
TEST_P(ProcessRunTest, CollectsOutputAndTermination) {
  const auto& c = GetParam();
  auto result = Process::run("/bin/sh", {"-c", c.script});
  ASSERT_TRUE(result);
  EXPECT_EQ(result->output, c.output);
  EXPECT_EQ(result->termination.exited, c.exited);
  EXPECT_EQ(result->termination.status, c.status);
}
INSTANTIATE_TEST_SUITE_P(
    Tools, ProcessRunTest,
    testing::Values(
        RunCase{"NonZeroExitKeepsOutput", "echo x; exit 3", "x\n", true, 3},
        RunCase{"KilledBySignal", "echo y; kill -KILL $$", "y\n", false, SIGKILL},
        RunCase{"StdinIsEmpty", "cat; echo end", "end\n", true, 0},
        RunCase{"BinaryOutputKept", "printf 'A\\000\\377B'", std::string("A\0\377B", 4), true,
                0}),
    [](const auto& info) { return info.param.label; });

class ProcessOutputSizeTest : public testing::TestWithParam<size_t> {};
TEST_P(ProcessOutputSizeTest, OutputLargerThanThePipeNeverBlocksTheTool) {
  size_t bytes = GetParam();
  auto result = Process::run("/usr/bin/head", {"-c", std::to_string(bytes), "/dev/zero"});
  ASSERT_TRUE(result);
  EXPECT_TRUE(result->termination.success());
  EXPECT_EQ(result->output.size(), bytes);
}
INSTANTIATE_TEST_SUITE_P(Sizes, ProcessOutputSizeTest, testing::Values(65537u, 1u << 20, 10u << 20));

TEST(ProcessTest, ChildInheritsOnlyItsOutputPipeAndNullInput) {
  // One descriptor opened without close-on-exec, as other code may do, one with it.
  int plain = ::open("/dev/null", O_RDONLY);
  int cloexec = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(plain, 0);
  auto result = Process::run(XR_FDLIST_TOOL, {});
  ::close(plain);
  ::close(cloexec);
  ASSERT_TRUE(result);
  ASSERT_TRUE(result->termination.success()) << result->output;
  std::map<int, std::string> fds;
  std::istringstream in(result->output);
  int fd;
  std::string target;
  while (in >> fd >> target) fds[fd] = target;
  ASSERT_EQ(fds.size(), 3u) << result->output;
  EXPECT_EQ(fds[0], "/dev/null");
  EXPECT_TRUE(fds[1].starts_with("pipe:")) << fds[1];
  EXPECT_EQ(fds[1], fds[2]);
}

TEST(ProcessTest, LaunchFailuresAreResultsAndLeakNothing) {
  test::TempDirectory dir;
  std::string notExecutable = dir.write("tool", "#!/bin/sh\necho hi\n");
  auto before = test::openDescriptors();
  for (const std::string& path : {dir.path() + "/missing", notExecutable, dir.path()}) {
    std::string error;
    EXPECT_EQ(Process::launch(path, {}, &error), nullptr) << path;
    EXPECT_NE(error.find(path), std::string::npos) << error;
    EXPECT_FALSE(Process::run(path, {}));
  }
  EXPECT_EQ(test::openDescriptors(), before);
}

TEST(ProcessTest, DestroyingARunningProcessKillsAndReapsIt) {
  auto before = test::openDescriptors();
  pid_t pid;
  {
    auto process = Process::launch("/bin/sleep", {"60"});
    ASSERT_TRUE(process);
    pid = process->pid();
    EXPECT_TRUE(process->running());
    EXPECT_FALSE(process->poll());
  }
  // Reaped: no zombie of ours is left to wait for.
  errno = 0;
  EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  EXPECT_EQ(test::openDescriptors(), before);
}

TEST(ProcessTest, TerminateEndsTheToolWithSigterm) {
  auto process = Process::launch("/bin/sleep", {"60"});
  ASSERT_TRUE(process);
  process->terminate();
  auto t = process->wait();
  EXPECT_FALSE(t.exited);
  EXPECT_EQ(t.status, SIGTERM);
  EXPECT_FALSE(process->running());
  process->terminate();  // reaped: signals nobody
  auto again = process->poll();
  ASSERT_TRUE(again);
  EXPECT_EQ(again->status, SIGTERM);
}

TEST(ProcessTest, BackgroundProcessHoldingThePipeDoesNotHoldCollect) {
  auto result = Process::run("/bin/sh", {"-c", "sleep 60 & echo $!"});
  ASSERT_TRUE(result);
  EXPECT_TRUE(result->termination.success());
  pid_t background = std::stoi(result->output);
  // Collect came back while the background process still held the pipe's writing end.
  EXPECT_EQ(::kill(background, 0), 0);
  ::kill(background, SIGKILL);
}

TEST(ProcessTest, ReadErrorEndsCollectAndStillReaps) {
  auto before = test::openDescriptors();
  {
    ScopedPosixCalls restore;
    posixCalls().read = [](int, void*, size_t) -> ssize_t {
      errno = EIO;
      return -1;
    };
    auto result = Process::run("/usr/bin/head", {"-c", "1000000", "/dev/zero"});
    ASSERT_TRUE(result);
    EXPECT_EQ(result->output, "");
    // The reader gave up; the tool ends on its closed pipe instead of blocking on it.
    EXPECT_FALSE(result->termination.success());
  }
  EXPECT_EQ(test::openDescriptors(), before);
}

}  // namespace
}  // namespace xr

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

TEST(ProcessTest, CollectsOutputAndTermination) {
  struct Case {
    const char* script;
    std::string output;
    bool exited;
    int status;
  } cases[] = {
      {"echo err >&2; exit 3", "err\n", true, 3},  // stderr only, non-zero exit
      {"echo y; kill -KILL $$", "y\n", false, SIGKILL},
      {"cat; echo end", "end\n", true, 0},  // stdin is empty, not ours
      {"printf 'A\\000\\377B'", std::string("A\0\377B", 4), true, 0},
  };
  for (const auto& c : cases) {
    auto result = Process::run("/bin/sh", {"-c", c.script});
    ASSERT_TRUE(result) << c.script;
    EXPECT_EQ(result->output, c.output) << c.script;
    EXPECT_EQ(result->termination.exited, c.exited) << c.script;
    EXPECT_EQ(result->termination.status, c.status) << c.script;
  }
}

TEST(ProcessTest, OutputLargerThanThePipeNeverBlocksTheTool) {
  auto result = Process::run("/usr/bin/head", {"-c", "1048576", "/dev/zero"});
  ASSERT_TRUE(result);
  EXPECT_TRUE(result->termination.success());
  EXPECT_EQ(result->output.size(), 1048576u);
}

TEST(ProcessTest, ChildInheritsOnlyItsOutputPipeAndNullInput) {
  // One descriptor opened without close-on-exec, as other code may do, one with it.
  int plain = ::open("/dev/null", O_RDONLY);
  int cloexec = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(plain, 0);
  auto result = Process::run(XR_FDLIST_TOOL, {});
  ::close(plain);
  ::close(cloexec);
  ASSERT_TRUE(result && result->termination.success());
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

TEST(ProcessTest, TerminatedOrDestroyedToolsAreReaped) {
  auto before = test::openDescriptors();
  auto process = Process::launch("/bin/sleep", {"60"});
  ASSERT_TRUE(process);
  process->terminate();
  EXPECT_EQ(process->wait().status, SIGTERM);
  EXPECT_FALSE(process->running());
  process->terminate();  // reaped: signals nobody
  ASSERT_TRUE(process->poll());
  EXPECT_EQ(process->poll()->status, SIGTERM);

  process = Process::launch("/bin/sleep", {"60"});
  ASSERT_TRUE(process);
  pid_t pid = process->pid();
  EXPECT_TRUE(process->running());
  EXPECT_FALSE(process->poll());
  process.reset();
  // Killed and reaped on destruction: no zombie of ours is left to wait for.
  errno = 0;
  EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  EXPECT_EQ(test::openDescriptors(), before);
}

TEST(ProcessTest, BackgroundProcessHoldingThePipeDoesNotHoldCollect) {
  auto result = Process::run("/bin/sh", {"-c", "sleep 60 & echo $!"});
  ASSERT_TRUE(result && result->termination.success());
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

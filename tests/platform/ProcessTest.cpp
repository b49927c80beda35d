#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <regex>
#include <sstream>

#include "platform/Process.h"
#include "support/Descriptors.h"
#include "support/ProcessResources.h"

namespace xr {
namespace {

// Output, status and limits, also while this process ignores SIGCHLD (the kernel then reaps
// children at once, their status lost). Past either limit the tool's group is killed and the
// run fails; what was kept stays.
TEST(ProcessTest, CollectsOutputAndTerminationWithinTheLimits) {
  const Process::Limits limits{std::chrono::milliseconds(400), 1 << 20};
  struct Case {
    const char* script;
    std::string output;
    bool exited;
    int status;
    bool timedOut = false, tooLarge = false;
  } cases[] = {
      {"echo err >&2; exit 3", "err\n", true, 3},  // stderr only, non-zero exit
      {"echo y; kill -KILL $$", "y\n", false, SIGKILL},
      {"printf 'A\\000\\377B'", std::string("A\0\377B", 4), true, 0},
      {"head -c 1048577 /dev/zero; sleep 60", std::string(1 << 20, '\0'), false, SIGKILL, false, true},
      {"echo started; sleep 60", "started\n", false, SIGKILL, true},
      {"exec >&- 2>&-; sleep 60", "", false, SIGKILL, true},  // no output to wait on, still timed
  };
  for (const auto disposition : {SIG_DFL, SIG_IGN}) {
    struct sigaction action {}, saved{};
    action.sa_handler = disposition;
    ::sigaction(SIGCHLD, &action, &saved);
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.script) + (disposition == SIG_IGN ? ", SIGCHLD ignored" : ""));
      auto result = Process::run("/bin/sh", {"-c", c.script}, limits);
      ASSERT_TRUE(result);
      EXPECT_EQ(result->output, c.output);
      EXPECT_EQ(result->termination.exited, c.exited);
      EXPECT_EQ(result->timedOut, c.timedOut);
      EXPECT_EQ(result->outputTooLarge, c.tooLarge);
      EXPECT_EQ(result->success(), c.exited && c.status == 0);
      // Killed at a limit, the wrapping shell goes too: its status cannot be handed over.
      if (disposition == SIG_DFL || !(c.timedOut || c.tooLarge)) {
        EXPECT_EQ(result->termination.status, c.status);
      }
    }
    ::sigaction(SIGCHLD, &saved, nullptr);
  }
}

TEST(ProcessTest, ChildInheritsOnlyItsOutputPipeAndNullInput) {
  // One descriptor opened without close-on-exec, as other code may do, one with it.
  int plain = ::open("/dev/null", O_RDONLY);
  int cloexec = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(plain, 0);
  // find, a child of the tool, lists what the tool holds.
  auto result = Process::run("/bin/sh", {"-c", "find /proc/$$/fd -mindepth 1 -printf '%f %l\\n'"});
  ::close(plain);
  ::close(cloexec);
  ASSERT_TRUE(result && result->termination.success());
  const std::string listed = std::regex_replace(result->output, std::regex(R"(pipe:\[\d+\])"), "pipe");
  EXPECT_EQ(listed, "0 /dev/null\n1 pipe\n2 pipe\n");
}

TEST(ProcessTest, TerminatedOrphanedOrDestroyedToolsAreReaped) {
  auto before = test::openDescriptors();
  auto process = Process::launch("/bin/sleep", {"60"});
  ASSERT_TRUE(process);
  process->terminate();
  EXPECT_EQ(process->wait().status, SIGTERM);
  ASSERT_TRUE(process->poll());
  EXPECT_EQ(process->poll()->status, SIGTERM);

  // The kernel ends the tool when the thread that launched it is gone.
  std::thread([&] { process = Process::launch("/bin/sleep", {"60"}); }).join();
  ASSERT_TRUE(process);
  EXPECT_EQ(process->wait().status, SIGKILL);

  process = Process::launch("/bin/sleep", {"60"});
  ASSERT_TRUE(process);
  pid_t pid = process->pid();
  EXPECT_FALSE(process->poll());
  process.reset();
  // Killed and reaped on destruction: no zombie of ours is left to wait for.
  errno = 0;
  EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  EXPECT_EQ(test::openDescriptors(), before);
}

// The run ends when the tool does (a background job holding the pipe cannot hold it), and
// what the tool left running in its group ends with it.
TEST(ProcessTest, BackgroundJobsEndWithTheRun) {
  auto result = Process::run("/bin/sh", {"-c", "sleep 60 & echo $! $$ $(cut -d' ' -f5 /proc/$$/stat)"});
  ASSERT_TRUE(result && result->success());
  std::istringstream in(result->output);
  pid_t background = 0, tool = 0, group = 0;
  in >> background >> tool >> group;
  EXPECT_EQ(group, tool);  // a group of its own
  ASSERT_GT(background, 0);
  EXPECT_TRUE(test::eventually([&] { return !test::alive(background); }));
}

// The report's tools see a fixed environment; a launch may ask for ours, entries replaced.
// (Standard error apart is used, and shown, by every test that runs our own programs.)
TEST(ProcessTest, LaunchOptionsShapeTheEnvironment) {
  ::setenv("XR_SECRET", "1", 1);
  ::setenv("XR_REPLACED", "old", 1);
  const auto fixed = Process::run("/bin/sh", {"-c", "env | grep -v ^PWD= | sort"});
  ASSERT_TRUE(fixed);
  EXPECT_EQ(fixed->output, "LC_ALL=C\nPATH=/usr/sbin:/usr/bin:/sbin:/bin\n");
  const LaunchOptions inherited{
      .inheritEnvironment = true, .environment = {"XR_REPLACED=new"}, .separateErrors = false};
  const auto ours = Process::launch("/bin/sh", {"-c", "env | grep ^XR_ | sort"}, inherited);
  ASSERT_TRUE(ours);
  EXPECT_EQ(ours->collect().output, "XR_REPLACED=new\nXR_SECRET=1\n");
  ::unsetenv("XR_SECRET");
  ::unsetenv("XR_REPLACED");
}

TEST(ProcessTest, ReadErrorEndsCollectAndStillReaps) {
  auto before = test::openDescriptors();
  {
    PosixCalls::Table failingRead = PosixCalls::system().table();
    failingRead.read = [](int, void*, size_t) -> ssize_t {
      errno = EIO;
      return -1;
    };
    auto tool = Process::launch("/usr/bin/head", {"-c", "1000000", "/dev/zero"});
    ASSERT_TRUE(tool);
    const Process::Result result = tool->collect({}, PosixCalls(failingRead));
    EXPECT_EQ(result.output, "");
    // The reader gave up; the tool ends on its closed pipe instead of blocking on it.
    EXPECT_FALSE(result.termination.success());
  }
  EXPECT_EQ(test::openDescriptors(), before);
}

}  // namespace
}  // namespace xr

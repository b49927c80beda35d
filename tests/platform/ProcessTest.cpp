#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <thread>
#include <map>
#include <sstream>

#include "platform/Process.h"
#include "support/Descriptors.h"
#include "support/ProcessResources.h"
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

// Past either limit the tool's group is killed and the run fails; what was kept stays.
TEST(ProcessTest, LimitsEndTheRun) {
  const Process::Limits limits{std::chrono::milliseconds(200), 4096};
  struct Case {
    const char* script;
    bool timedOut, tooLarge;
    size_t kept;
  } cases[] = {
      {"echo started; sleep 60", true, false, 8},
      {"exec >&- 2>&-; sleep 60", true, false, 0},  // no output to wait on, still timed
      {"head -c 4096 /dev/zero", false, false, 4096},
      {"head -c 4097 /dev/zero; sleep 60", false, true, 4096},
      {"while :; do echo flood; done", false, true, 4096},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    auto result = Process::run("/bin/sh", {"-c", c.script}, limits);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->timedOut, c.timedOut);
    EXPECT_EQ(result->outputTooLarge, c.tooLarge);
    EXPECT_EQ(result->output.size(), c.kept);
    EXPECT_EQ(result->success(), !c.timedOut && !c.tooLarge);
    if (c.timedOut || c.tooLarge) {
      EXPECT_EQ(result->termination.status, SIGKILL);
    }
  }
}

// The report's tools see a fixed environment; a launch may ask for ours, entries added or
// replaced, and for standard error apart.
TEST(ProcessTest, LaunchOptionsShapeEnvironmentAndErrors) {
  ::setenv("XR_SECRET", "1", 1);
  ::setenv("XR_REPLACED", "old", 1);
  const std::string fixedPath = "PATH=/usr/sbin:/usr/bin:/sbin:/bin\n";
  struct Case {
    const char* script;
    LaunchOptions options;
    std::string output, errors;
  } cases[] = {
      {"env | grep -v ^PWD= | sort; echo err >&2", {}, "LC_ALL=C\n" + fixedPath + "err\n", ""},
      {"env | grep -v ^PWD= | sort; echo err >&2", {false, {"LC_ALL=POSIX", "XR_ADDED=2"}, true},
       "LC_ALL=POSIX\n" + fixedPath + "XR_ADDED=2\n", "err\n"},
      {"env | grep ^XR_ | sort; echo err >&2", {true, {"XR_REPLACED=new"}, false}, "XR_REPLACED=new\nXR_SECRET=1\nerr\n", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output);
    auto process = Process::launch("/bin/sh", {"-c", c.script}, c.options);
    ASSERT_TRUE(process);
    FileDescriptor errors = process->takeErrors();
    const Process::Result result = process->collect();
    EXPECT_TRUE(result.success());
    EXPECT_EQ(result.output, c.output);
    char text[64] = {};
    if (errors) {
      EXPECT_GT(::read(errors.get(), text, sizeof text - 1), 0);
    }
    EXPECT_EQ(text, c.errors);
  }
  ::unsetenv("XR_SECRET");
  ::unsetenv("XR_REPLACED");
}

// While this process ignores SIGCHLD (the kernel then reaps children at once, their status
// lost), a tool's status, output and limits are still right.
TEST(ProcessTest, StatusIsRightWhileSigchldIsIgnored) {
  struct sigaction ignore {}, saved{};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGCHLD, &ignore, &saved);
  struct Case {
    const char* script;
    std::string output;
    bool exited;
    int status;
  } cases[] = {
      {"echo out; exit 3", "out\n", true, 3},
      {"kill -TERM $$", "", false, SIGTERM},
      {"sleep 60", "", false, SIGKILL},  // at its deadline
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    auto result = Process::run("/bin/sh", {"-c", c.script}, {std::chrono::milliseconds(300), 4096});
    ASSERT_TRUE(result);
    EXPECT_EQ(result->output, c.output);
    EXPECT_EQ(result->termination.exited, c.exited);
    if (c.status != SIGKILL) {
      EXPECT_EQ(result->termination.status, c.status);
    }
    EXPECT_EQ(result->timedOut, c.status == SIGKILL);
  }
  ::sigaction(SIGCHLD, &saved, nullptr);
}

// The kernel ends the tool when the thread that launched it is gone.
TEST(ProcessTest, ToolEndsWithTheThreadThatLaunchedIt) {
  std::unique_ptr<Process> process;
  std::thread([&] { process = Process::launch("/bin/sleep", {"60"}); }).join();
  ASSERT_TRUE(process);
  const Process::Termination end = process->wait();
  EXPECT_FALSE(end.exited);
  EXPECT_EQ(end.status, SIGKILL);
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

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>

#include "platform/SignalCleanup.h"

namespace xr {
namespace {

// That a signal removes the lock files and ends the process by itself, gives the line its
// settings back and ends the tools is shown through the real xrreport (InterruptTest).
// A second signal must end the process even while the first one's actions are stuck. The
// first one's tcsetattr is held up by the kernel itself: the line is the controlling terminal of
// a session in which the process is in a background group, so the call stops it by SIGTTOU.
// Then the second signal and SIGCONT come. Everything runs in a session of its own (the leader
// is a child of the test), as only a process of that session can watch the other.
TEST(SignalCleanupTest, SecondSignalEndsAtOnceWhileTheFirstIsStuck) {
#if defined(__SANITIZE_THREAD__)
  // The thread sanitizer runs handlers later with SIGTTOU blocked: the first one never sticks.
  GTEST_SKIP() << "handlers run deferred, signals blocked";
#endif
  enum Outcome { kEndedBySecond, kNoLine, kNotStuck, kStuckAgain, kOther };
  struct Case {
    int first, second;
  } cases[] = {{SIGINT, SIGINT}, {SIGTERM, SIGHUP}};
  for (const Case& c : cases) {
    SCOPED_TRACE(sigabbrev_np(c.first) + std::string("+") + sigabbrev_np(c.second));
    const pid_t leader = ::fork();
    ASSERT_GE(leader, 0);
    if (leader == 0) {
      // No O_NOCTTY: the line becomes the new session's controlling terminal.
      const int master = ::setsid() < 0 ? -1 : ::posix_openpt(O_RDWR | O_NOCTTY);
      if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) ::_exit(kNoLine);
      const int line = ::open(::ptsname(master), O_RDWR);
      int ready[2];
      if (line < 0 || ::pipe(ready) != 0) ::_exit(kNoLine);
      const pid_t reporter = ::fork();
      if (reporter < 0) ::_exit(kNoLine);
      if (reporter == 0) {
        ::setpgid(0, 0);
        ::signal(SIGTTOU, SIG_DFL);
        termios saved{};
        ::tcgetattr(line, &saved);
        SignalCleanup::addTerminal(line, saved);
        SignalCleanup::installSignalHandlers();
        (void)!::write(ready[1], "", 1);
        for (;;) ::pause();
      }
      ::setpgid(reporter, reporter);
      char byte;
      (void)!::read(ready[0], &byte, 1);
      const auto outcome = [&](Outcome o) {
        ::kill(reporter, SIGKILL);
        ::waitpid(reporter, nullptr, 0);
        ::_exit(o);
      };
      int status = 0;
      ::kill(reporter, c.first);
      if (::waitpid(reporter, &status, WUNTRACED) != reporter || !WIFSTOPPED(status) || WSTOPSIG(status) != SIGTTOU)
        outcome(kNotStuck);
      ::kill(reporter, c.second);
      ::kill(reporter, SIGCONT);
      if (::waitpid(reporter, &status, WUNTRACED) != reporter) outcome(kOther);
      if (WIFSTOPPED(status)) outcome(kStuckAgain);
      ::_exit(WIFSIGNALED(status) && WTERMSIG(status) == c.second ? kEndedBySecond : kOther);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(leader, &status, 0), leader);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), kEndedBySecond);
  }
}

TEST(SignalCleanupTest, FullTableRefusesAndWithdrawingFreesASlot) {
  std::vector<CleanupEntry> entries;
  for (int i = 0; i < SignalCleanup::kSlots; ++i) {
    entries.emplace_back(SignalCleanup::addLockFile("/nonexistent/" + std::to_string(i)));
    ASSERT_TRUE(entries.back().registered());
  }
  EXPECT_EQ(SignalCleanup::addProcessGroup(12345), -1);
  entries.back().reset();
  CleanupEntry again(SignalCleanup::addProcessGroup(12345));
  EXPECT_TRUE(again.registered());
  EXPECT_EQ(SignalCleanup::addProcessGroup(1), -1);  // never init's group
  EXPECT_EQ(SignalCleanup::addLockFile(std::string(5000, 'x')), -1);
}

}  // namespace
}  // namespace xr

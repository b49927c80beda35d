// Lock files of live, dead and junk owners.
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <optional>

#include "platform/PlatformRoot.h"
#include "platform/Posix.h"
#include "platform/Process.h"
#include "serial/UUCPLock.h"
#include "support/TempDirectory.h"

namespace xr {
namespace {
namespace fs = std::filesystem;
using test::readFile;

std::string pidText(pid_t pid) {
  char text[16];
  std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
  return text;
}

// The pid of a process that has ended and been reaped.
pid_t deadPid() {
  auto ended = Process::launch("/bin/true", {});
  if (!ended) return 0;
  ended->wait();
  return ended->pid();
}

TEST(UUCPLock, LiveOwnersMakeTheDeviceBusyAndOthersAreStale) {
  const pid_t live = getppid();
  const pid_t dead = deadPid();
  ASSERT_NE(dead, 0);
  struct Case {
    const char* label;
    const char* directory;  // where the existing lock is: "var", "run" or none
    std::string contents;
    const char* name = "LCK..ttyS7";
    UUCPLock::Status status;
  } cases[] = {
      {"none", nullptr, "", "LCK..ttyS7", UUCPLock::Status::kAcquired},
      {"live", "var", pidText(live), "LCK..ttyS7", UUCPLock::Status::kBusy},
      {"live_in_second_directory", "run", pidText(live), "LCK..ttyS7", UUCPLock::Status::kBusy},
      {"live_under_link_target", "var", pidText(live), "LCK..ttyS7-real", UUCPLock::Status::kBusy},
      {"dead", "var", pidText(dead), "LCK..ttyS7", UUCPLock::Status::kAcquired},
      {"junk", "var", "hello\n", "LCK..ttyS7", UUCPLock::Status::kAcquired},
      {"other_device", "var", pidText(live), "LCK..ttyS8", UUCPLock::Status::kAcquired},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    test::TempDirectory dir;
    const std::string first = dir.makeDirectory("var/lock");
    const std::string second = dir.makeDirectory("run/lock");
    // The device is opened by a link, as /dev/modem may name /dev/ttyS7-real.
    const std::string device = dir.write("dev/ttyS7-real", "");
    fs::create_symlink(device, dir.file("dev/ttyS7"));
    std::string existing;
    if (c.directory) existing = dir.write(std::string(c.directory) + "/lock/" + c.name, c.contents);

    ScopedPlatformRoot root(dir.path());
    ASSERT_EQ(UUCPLock::defaultDirectories(), (std::vector<std::string>{first, second}));
    {
      UUCPLock lock(dir.file("dev/ttyS7"));
      EXPECT_EQ(lock.acquire(), c.status);
      if (c.status == UUCPLock::Status::kBusy) {
        EXPECT_EQ(lock.holderPid(), live);
        EXPECT_EQ(lock.holderPath(), existing);
        EXPECT_FALSE(lock.held());
        EXPECT_EQ(readFile(existing), c.contents) << "a live owner's lock was touched";
        continue;
      }
      // Ours under both names, in the first directory, written whole.
      const std::vector<std::string> ours = {first + "/LCK..ttyS7", first + "/LCK..ttyS7-real"};
      EXPECT_EQ(lock.heldPaths(), ours);
      for (const std::string& path : ours) EXPECT_EQ(readFile(path), pidText(::getpid())) << path;
      EXPECT_EQ(UUCPLock(dir.file("dev/ttyS7")).acquire(), UUCPLock::Status::kBusy) << "a second taker";
    }
    std::vector<std::string> left;
    for (const std::string& d : {first, second}) {
      for (const auto& entry : fs::directory_iterator(d)) left.push_back(entry.path().filename());
    }
    // The stale lock was replaced by ours, and ours is gone again; another device's stays.
    EXPECT_EQ(left, c.name == std::string("LCK..ttyS8") ? std::vector<std::string>{"LCK..ttyS8"}
                                                        : std::vector<std::string>{});
  }
}

// The lock is written under a scratch name first. A file already there by that name (left by
// an earlier process of our pid, or put there by another user: lock directories are open to
// all) is set aside, not written into: a second name for another file stays as it was.
TEST(UUCPLock, AFileInTheScratchFilesPlaceIsNotWrittenThrough) {
  test::TempDirectory dir;
  const std::string locks = dir.makeDirectory("var/lock");
  const std::string kept = dir.write("kept", "precious\n");
  fs::create_hard_link(kept, locks + "/LTMP." + std::to_string(::getpid()));
  ScopedPlatformRoot root(dir.path());
  UUCPLock lock(dir.write("dev/ttyS7", ""));
  EXPECT_EQ(lock.acquire(), UUCPLock::Status::kAcquired);
  EXPECT_EQ(readFile(locks + "/LCK..ttyS7"), pidText(::getpid()));
  EXPECT_EQ(readFile(kept), "precious\n");
}

// What a file records, for reports that say who holds a port: a pid written as text or in
// binary (a dead owner's too), or 0 for junk. (A pid padded as the convention writes it, text
// junk and no file at all are the lock files of the linux-ports and linux-probe examples.)
// A profile's lock directory that is a link out of its root is not one: our locks would be
// made, and stale ones removed, in that directory of the reporting machine.
TEST(UUCPLock, LockDirectoriesLieInsideThePlatformRoot) {
  test::TempDirectory outside, profile;
  fs::create_directories(profile.file("var"));
  fs::create_symlink(outside.path(), profile.file("var/lock"));
  const std::string run = profile.makeDirectory("run/lock");
  ScopedPlatformRoot root(profile.path());
  EXPECT_EQ(UUCPLock::defaultDirectories(), std::vector<std::string>{run});
}

TEST(UUCPLock, RecordedOwnerOfTextBinaryAndJunkFiles) {
  int32_t binary = 4242;
  const struct {
    std::string contents;
    std::optional<pid_t> owner;
  } cases[] = {
      {"4242\n", 4242},
      {std::string(reinterpret_cast<char*>(&binary), 4), 4242},
      {std::string("5\n\0\0", 4), 0x0a35},  // binary, though its first byte reads as a digit
      {"", 0},
      {pidText(0), 0},
      {"99999999999\n", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.contents));
    test::TempDirectory dir;
    dir.write("LCK..ttyS9", c.contents);
    EXPECT_EQ(UUCPLock::recordedOwner(dir.file("LCK..ttyS9")), c.owner);
  }
  test::TempDirectory dir;
  EXPECT_EQ(UUCPLock::recordedOwner(dir.makeDirectory("LCK..ttyS9")), 0) << "not a file: junk";
}

// Two reports find one stale lock at once. One judges it stale and is held up right there (the
// other is an idle-class process on this process's CPU, so this one, woken by its read of the
// lock, runs first); this one replaces the stale lock meanwhile. The device still gets only
// one holder: the one held up must not remove the lock made in the stale one's place.
TEST(UUCPLock, TwoTakersOfOneStaleLockNeverBothHoldIt) {
  test::TempDirectory dir;
  const pid_t dead = deadPid();
  ASSERT_NE(dead, 0);
  const std::string lock = dir.write("LCK..ttyS9", pidText(dead));
  struct OneCPU {
    cpu_set_t before;
    bool pinned = false;
    OneCPU() {
      cpu_set_t one;
      CPU_ZERO(&one);
      CPU_SET(sched_getcpu(), &one);
      pinned = sched_getaffinity(0, sizeof before, &before) == 0 && sched_setaffinity(0, sizeof one, &one) == 0;
    }
    ~OneCPU() {
      if (pinned) sched_setaffinity(0, sizeof before, &before);
    }
  } cpu;
  ASSERT_TRUE(cpu.pinned);
  FileDescriptor reads(inotify_init1(IN_CLOEXEC));
  ASSERT_GE(inotify_add_watch(reads.get(), lock.c_str(), IN_CLOSE_NOWRITE), 0);
  FileDescriptor answerRead, answerWrite, goRead, goWrite;
  ASSERT_TRUE(makePipe(&answerRead, &answerWrite) && makePipe(&goRead, &goWrite));

  const pid_t other = fork();
  if (other == 0) {
    goWrite.reset();
    const sched_param idle{};
    (void)sched_setscheduler(0, SCHED_IDLE, &idle);
    UUCPLock theirs("/dev/ttyS9", {dir.path()});
    const char took = theirs.acquire() == UUCPLock::Status::kAcquired ? 'y' : 'n';
    (void)!write(answerWrite.get(), &took, 1);
    char go;
    (void)!read(goRead.get(), &go, 1);  // holds the lock till then
    _exit(0);
  }
  ASSERT_GT(other, 0);
  // Its first read is its look over the lock directories; its second, when its own lock could
  // not be linked into place, is where it judges the lock it found there.
  for (int seen = 0; seen < 2;) {
    pollfd watching{reads.get(), POLLIN, 0};
    ASSERT_EQ(poll(&watching, 1, 20000), 1) << "the other taker never read the lock";  // a watchdog
    alignas(inotify_event) char events[4096];
    const ssize_t n = read(reads.get(), events, sizeof events);
    ASSERT_GT(n, 0);
    for (ssize_t at = 0; at < n; ++seen) at += sizeof(inotify_event) + reinterpret_cast<inotify_event*>(events + at)->len;
  }
  UUCPLock ours("/dev/ttyS9", {dir.path()});
  const bool weTook = ours.acquire() == UUCPLock::Status::kAcquired;
  char theyTook = 0;
  EXPECT_EQ(read(answerRead.get(), &theyTook, 1), 1);
  EXPECT_NE(weTook, theyTook == 'y') << "held by both, or by neither";
  EXPECT_EQ(UUCPLock::recordedOwner(lock), weTook ? ::getpid() : other);
  goWrite.reset();
  int status = 0;
  EXPECT_EQ(waitpid(other, &status, 0), other);
}

TEST(UUCPLock, ReleaseLeavesALockThatReplacedOurs) {
  test::TempDirectory dir;
  UUCPLock lock("/dev/ttyS9", {dir.path()});
  ASSERT_EQ(lock.acquire(), UUCPLock::Status::kAcquired);
  const std::string path = dir.file("LCK..ttyS9");
  dir.write("LCK..ttyS9", pidText(1));  // someone broke ours as stale and put theirs
  lock.release();
  EXPECT_EQ(readFile(path), pidText(1));
}

}  // namespace
}  // namespace xr

// Lock files of live, dead and junk owners, and the port that honours them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "platform/PlatformRoot.h"
#include "platform/Process.h"
#include "platform/Trace.h"
#include "serial/DataHandler.h"
#include "serial/TTYPort.h"
#include "serial/UUCPLock.h"
#include "support/TempDirectory.h"
#include "profile/PseudoTerminal.h"

namespace xr {
namespace {
namespace fs = std::filesystem;

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string pidText(pid_t pid) {
  char text[16];
  std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
  return text;
}

// A process that lives until the test ends, and the pid of one that has ended.
struct Owners {
  std::unique_ptr<Process> live = Process::launch("/bin/sleep", {"60"});
  pid_t dead = 0;
  Owners() {
    auto ended = Process::launch("/bin/true", {});
    if (ended) {
      dead = ended->pid();
      ended->wait();
    }
  }
  ~Owners() {
    if (live) {
      live->terminate();
      live->wait();
    }
  }
};

TEST(UUCPLock, LiveOwnersMakeTheDeviceBusyAndOthersAreStale) {
  Owners owners;
  ASSERT_TRUE(owners.live);
  ASSERT_NE(owners.dead, 0);
  const pid_t live = owners.live->pid();
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
      {"dead", "var", pidText(owners.dead), "LCK..ttyS7", UUCPLock::Status::kAcquired},
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

// What a file records, for reports that say who holds a port: no file is told from junk, and
// a dead owner's pid is still given.
TEST(UUCPLock, RecordedOwnerTellsNoFileFromJunk) {
  int32_t binary = 4242;
  const struct {
    std::optional<std::string> contents;  // nullopt: no file
    std::optional<pid_t> owner;
  } cases[] = {
      {std::nullopt, std::nullopt},
      {pidText(4242), 4242},
      {"4242\n", 4242},
      {std::string(reinterpret_cast<char*>(&binary), 4), 4242},
      {std::string("5\n\0\0", 4), 0x0a35},  // binary, though its first byte reads as a digit
      {"", 0},
      {pidText(0), 0},
      {"hello\n", 0},
      {"99999999999\n", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.contents));
    test::TempDirectory dir;
    if (c.contents) dir.write("LCK..ttyS9", *c.contents);
    EXPECT_EQ(UUCPLock::recordedOwner(dir.file("LCK..ttyS9")), c.owner);
  }
  test::TempDirectory dir;
  EXPECT_EQ(UUCPLock::recordedOwner(dir.makeDirectory("LCK..ttyS9")), 0) << "not a file: junk";
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

TEST(UUCPLock, NoLockDirectoryLeavesTheDeviceUnguarded) {
  test::TempDirectory dir;
  ScopedPlatformRoot root(dir.path());
  EXPECT_TRUE(UUCPLock::defaultDirectories().empty());
  UUCPLock lock("/dev/ttyS9");
  EXPECT_EQ(lock.acquire(), UUCPLock::Status::kUnlocked);
  EXPECT_FALSE(lock.held());
}

// The port takes the device's lock for as long as it is open; a device another process holds
// stays closed, and the trace says who holds it.
TEST(UUCPLock, PortHonoursAndHoldsTheLock) {
  Owners owners;
  ASSERT_TRUE(owners.live);
  std::string error;
  auto pty = PseudoTerminal::open(&error);
  ASSERT_TRUE(pty) << error;
  test::TempDirectory locks;
  const std::string name = "LCK.." + fs::path(pty->slavePath()).filename().string();
  std::vector<std::string> trace;
  setTraceSink([&](std::string_view line) { trace.emplace_back(line); });

  TTYPort port(std::make_shared<DataHandler>());
  port.setPath(pty->slavePath());
  port.setLockDirectories({locks.path()});
  locks.write(name, pidText(owners.live->pid()));
  port.open();
  EXPECT_FALSE(port.portOpened());
  EXPECT_EQ(port.inDescriptor(), -1);
  EXPECT_EQ(port.busyHolderPid(), owners.live->pid());

  locks.write(name, pidText(owners.dead));
  port.open();
  EXPECT_TRUE(port.portOpened());
  EXPECT_EQ(port.busyHolderPid(), 0);
  EXPECT_EQ(port.heldLockPaths(), std::vector<std::string>{locks.file(name)});
  EXPECT_EQ(readFile(locks.file(name)), pidText(::getpid()));
  port.close();
  EXPECT_FALSE(fs::exists(locks.file(name)));

  port.setPath(pty->slavePath() + "-missing");
  port.open();
  setTraceSink(nullptr);
  ASSERT_EQ(trace.size(), 2u);
  EXPECT_TRUE(trace[0].ends_with(" note  " + pty->slavePath() + ": busy: locked by pid " +
                                 std::to_string(owners.live->pid()) + " (" + locks.file(name) + ")"))
      << trace[0];
  EXPECT_TRUE(trace[1].ends_with(" note  " + pty->slavePath() + "-missing: cannot open: No such file or directory"))
      << trace[1];
}

}  // namespace
}  // namespace xr

// The holders pass over real processes on a real pty, over a profile-like tree, and as a user
// who cannot read every process.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "platform/Process.h"
#include "profile/PseudoTerminal.h"
#include "serial/PortHolders.h"
#include "support/TempDirectory.h"

namespace xr {
namespace {
namespace fs = std::filesystem;

// Launches the hold-open tool on path and waits until it has the path open.
std::unique_ptr<Process> holdOpen(const std::string& path) {
  auto process = Process::launch(XR_HOLDOPEN_TOOL, {path});
  char said[5] = {};
  if (!process || read(process->outputDescriptor(), said, sizeof said) != sizeof said) return nullptr;
  return process;
}

TEST(PortHoldersTest, FindsRealProcessesHoldingARealPty) {
  auto held = PseudoTerminal::open();
  auto idle = PseudoTerminal::open();
  ASSERT_TRUE(held && idle);
  auto holder = holdOpen(held->slavePath());
  ASSERT_TRUE(holder);

  // The idle one is known by a link only, as /dev/modem leads to ttyS1: found by device number.
  test::TempDirectory dir;
  const std::string modem = dir.file("modem");
  fs::create_symlink(idle->slavePath(), modem);

  const PortHolders holders("/proc");
  const HolderScan scan = holders.scan({{held->slavePath()}, {modem}});
  // The pseudo-terminals keep a slave descriptor of their own, so this process holds both.
  const ProcessRef self{getpid(), holders.processName(getpid()).value_or("")};
  std::vector<ProcessRef> both{self, {holder->pid(), "xr_holdopen"}};
  std::sort(both.begin(), both.end(), [](auto& a, auto& b) { return a.pid < b.pid; });
  EXPECT_EQ(scan.holders[0], both);
  EXPECT_EQ(scan.holders[1], std::vector<ProcessRef>{self});
  // The pass made ahead of a report leaves the report's own process out.
  const HolderScan early = holders.scan({{held->slavePath()}, {modem}}, getpid());
  EXPECT_EQ(early.holders[0], (std::vector<ProcessRef>{{holder->pid(), "xr_holdopen"}}));
  EXPECT_TRUE(early.holders[1].empty());
}

// A profile's tree holding a port by one of its links. (The linux-ports example holds the
// other shapes: links naming devices this machine lacks, a duplicate descriptor, a process
// that ended during the pass.)
class FakeProcTest : public testing::Test {
 protected:
  void SetUp() override {
    process(11, "gpsd", {{"3", "/dev/serial/by-id/usb-XR_Cable-if00"}, {"4", "socket:[2231]"}});
  }
  void process(int pid, const std::string& name, const std::vector<std::pair<std::string, std::string>>& fds) {
    const std::string base = "proc/" + std::to_string(pid);
    dir_.write(base + "/comm", name + "\n");
    dir_.makeDirectory(base + "/fd");
    for (const auto& [fd, target] : fds) fs::create_symlink(target, dir_.file(base + "/fd/" + fd));
  }
  std::vector<PortPaths> ports() const {
    return {{"/dev/ttyXRUSB0", "/dev/serial/by-id/usb-XR_Cable-if00"}, {"/dev/ttyXR1"}};
  }
  test::TempDirectory dir_;
};

TEST_F(FakeProcTest, MatchesAPortByItsLinks) {
  // A captured process whose descriptors could not be read has a file for its fd/.
  dir_.write("proc/12/fd", "");
  const HolderScan scan = PortHolders(dir_.file("proc")).scan(ports());
  EXPECT_EQ(scan.holders[0], (std::vector<ProcessRef>{{11, "gpsd"}}));
  EXPECT_TRUE(scan.holders[1].empty());
  EXPECT_EQ(scan.uninspected, std::vector<int>{12});
  EXPECT_EQ(PortHolders(dir_.file("no-such-proc")).scan(ports()).holders.size(), 2u);
}

// Kernel threads hold nothing: the children kthreadd lists are not looked at, unless pid 2 is
// no kernel thread (in a pid namespace it is anyone's).
TEST_F(FakeProcTest, LeavesOutTheKernelThreadsKthreaddLists) {
  process(7, "kworker/0:1", {{"1", "/dev/ttyXR1"}});
  dir_.write("proc/2/task/2/children", "9 7 ");  // in the order they were made: pids wrap
  for (const auto& [flags, lookedAt] : {std::pair{"2129984", false}, std::pair{"4194560", true}}) {
    dir_.write("proc/2/stat", std::string("2 (kthreadd) S 0 0 0 0 -1 ") + flags + " 0 0 0 0\n");
    const HolderScan scan = PortHolders(dir_.file("proc")).scan(ports());
    EXPECT_EQ(scan.holders[0], (std::vector<ProcessRef>{{11, "gpsd"}}));
    EXPECT_EQ(scan.holders[1].size(), lookedAt ? 1u : 0u) << "flags " << flags;
  }
}

// Run as nobody in a child: a process whose fd/ cannot be read is counted, not left out.
// A name is read only from a regular file of the tree's own: a FIFO would hang the report,
// a link could show any file of the reporting machine as a process name.
TEST_F(FakeProcTest, ReadsANameOnlyFromARegularFileOfItsOwn) {
  const PortHolders holders(dir_.file("proc"));
  const std::string comm = dir_.file("proc/11/comm");
  fs::remove(comm);
  fs::create_symlink(dir_.write("secret", "SECRET\n"), comm);
  EXPECT_EQ(holders.processName(11), std::nullopt);
  fs::remove(comm);
  ASSERT_EQ(mkfifo(comm.c_str(), 0600), 0);
  // A writer with something written, so that a blocking read would return, not hang the test.
  const int writer = open(comm.c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_EQ(write(writer, "FIFO\n", 5), 5);
  EXPECT_EQ(holders.processName(11), std::nullopt);
  close(writer);
}

TEST_F(FakeProcTest, CountsProcessesItCannotInspect) {
  process(20, "secret", {{"5", "/dev/ttyXR1"}});
  fs::permissions(dir_.path(), fs::perms::all, fs::perm_options::add);
  fs::permissions(dir_.file("proc/20/fd"), fs::perms::owner_all, fs::perm_options::replace);
  const pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(99);
    const HolderScan scan = PortHolders(dir_.file("proc")).scan(ports());
    _exit(scan.holders[0].size() == 1 && scan.holders[1].empty() ? static_cast<int>(scan.uninspected.size()) : 98);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
}

}  // namespace
}  // namespace xr

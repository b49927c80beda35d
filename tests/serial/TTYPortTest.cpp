#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "platform/Posix.h"
#include "platform/Trace.h"
#include "serial/DataHandler.h"
#include "serial/TTYPort.h"
#include "support/Descriptors.h"
#include "support/ProcessResources.h"
#include "profile/PseudoTerminal.h"
#include "support/TempDirectory.h"

namespace xr {
namespace {
using test::openDescriptors;
using test::threadCount;

// A line whose every setting differs from what the port applies, so each change shows.
struct termios distinctiveAttributes(int fd) {
  struct termios t{};
  EXPECT_EQ(tcgetattr(fd, &t), 0);
  t.c_iflag |= ICRNL | INLCR | IGNCR | ISTRIP | PARMRK | BRKINT | INPCK | IXON | IXOFF | IXANY | IGNBRK | IMAXBEL;
  t.c_oflag |= OPOST | ONLCR;
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CLOCAL | CRTSCTS);
  t.c_cflag |= CS7 | PARENB | PARODD | CSTOPB | HUPCL;
  t.c_lflag |= ICANON | ISIG | ECHO | ECHOE | IEXTEN;
  t.c_cc[VMIN] = 5;
  t.c_cc[VTIME] = 9;
  cfsetispeed(&t, B9600);
  cfsetospeed(&t, B9600);
  EXPECT_EQ(tcsetattr(fd, TCSANOW, &t), 0);
  EXPECT_EQ(tcgetattr(fd, &t), 0);
  return t;
}

class TTYPortOnPty : public testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    pty_ = PseudoTerminal::open(&error);
    ASSERT_TRUE(pty_) << error;
    before_ = distinctiveAttributes(pty_->slaveDescriptor());
    baseDescriptors_ = openDescriptors();
    baseThreads_ = threadCount();
    port_.setPath(pty_->slavePath());
    port_.setLockDirectories({locks_.path()});
    lockFile_ = locks_.file("LCK.." + std::filesystem::path(pty_->slavePath()).filename().string());
  }
  void TearDown() override {
    port_.close();
    expectClosedAsBefore();
  }
  struct termios lineNow() {
    struct termios t{};
    EXPECT_EQ(tcgetattr(pty_->slaveDescriptor(), &t), 0);
    return t;
  }
  void expectClosedAsBefore() {
    EXPECT_FALSE(port_.portOpened());
    EXPECT_EQ(port_.inDescriptor(), -1);
    const struct termios after = lineNow();
    EXPECT_EQ(std::memcmp(&after, &before_, sizeof after), 0) << "line attributes not restored";
    EXPECT_EQ(openDescriptors(), baseDescriptors_);
    EXPECT_EQ(threadCount(), baseThreads_);
  }

  test::TempDirectory locks_;
  std::string lockFile_;  // the line's UUCP lock
  std::unique_ptr<PseudoTerminal> pty_;
  struct termios before_{};
  std::set<int> baseDescriptors_;
  size_t baseThreads_ = 0;
  std::shared_ptr<DataHandler> handler_ = std::make_shared<DataHandler>();
  PosixCalls calls_ = PosixCalls::system();  // the port's; a test may replace them
  TTYPort port_{handler_, calls_};
};

int gOpenFlags = -1;

TEST_F(TTYPortOnPty, OpenMakesTheLineRawAndCloseRestoresItExactly) {
  PosixCalls::Table recordingOpen = PosixCalls::system().table();
  recordingOpen.open = [](const char* path, int flags, mode_t mode) { return ::open(path, gOpenFlags = flags, mode); };
  calls_ = PosixCalls(recordingOpen);
  port_.setPortSpeed(115200);  // stored only: open keeps the line's speed
  port_.open();
  ASSERT_TRUE(port_.portOpened());
  // Never the caller's controlling terminal, never inherited by a tool.
  EXPECT_EQ(gOpenFlags, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);

  // Only what would change the modem's bytes goes; everything else stays as the line had it.
  struct termios raw = before_;
  raw.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR | ISTRIP | PARMRK | BRKINT | INPCK | IXON | IXOFF | IXANY);
  raw.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ISIG | ECHO | ECHOE);
  raw.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
  raw.c_cflag |= CS8 | CREAD | CLOCAL | CRTSCTS;
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 1;
  const struct termios t = lineNow();
  EXPECT_EQ(std::memcmp(&t, &raw, sizeof t), 0) << "not raw, or more than the modem's bytes changed";
  // Exactly non-blocking. The kernel adds its large-file flag, which the C library defines as
  // 0 on 64-bit systems.
  constexpr int kKernelLargeFile = 0100000;
  EXPECT_EQ(fcntl(port_.inDescriptor(), F_GETFL) & ~(O_ACCMODE | kKernelLargeFile), O_NONBLOCK);
  int exclusive = 0;
  ASSERT_EQ(ioctl(pty_->slaveDescriptor(), TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 1) << "no other opener while the port talks";
  EXPECT_EQ(port_.heldLockPaths(), std::vector<std::string>{lockFile_});
  port_.close();
  ASSERT_EQ(ioctl(pty_->slaveDescriptor(), TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0) << "the tty's exclusive mode outlived the port";
  EXPECT_FALSE(std::filesystem::exists(lockFile_));
}

// After close the data handler writes nowhere, even when the number is taken again.
TEST_F(TTYPortOnPty, SendAfterCloseWritesNothing) {
  port_.open();
  ASSERT_TRUE(port_.portOpened());
  const int number = port_.inDescriptor();
  port_.close();
  FileDescriptor readEnd, writeEnd;
  ASSERT_TRUE(makePipe(&readEnd, &writeEnd));
  ASSERT_TRUE(readEnd.get() == number || writeEnd.get() == number) << "the number was not reused";
  EXPECT_EQ(handler_->sendData(dataWithString("AT\r")), -1);
  pollfd p{readEnd.get(), POLLIN, 0};
  EXPECT_EQ(posix::poll(&p, 1, 0), 0) << "the send reached the pipe";
  pollfd m{pty_->masterDescriptor(), POLLIN, 0};
  EXPECT_EQ(posix::poll(&m, 1, 0), 0) << "the send reached the closed line";
}

// A line that cannot be opened or configured, that a live process has locked, or that another
// program holds in exclusive use (as modem managers and GPS daemons hold theirs, without a lock
// file; root could open it all the same) is left closed, as it was: its settings, its exclusive
// mode and its lock untouched. The trace says why; closing the port then touches no descriptor.
TEST_F(TTYPortOnPty, FailedOpenLeavesNothingBehindAndSaysWhy) {
  std::vector<std::string> trace;
  setTraceSink([&](std::string_view line) { trace.emplace_back(line); });
  const pid_t live = getppid();
  enum Fault { kMissingDevice, kFcntl, kTcgetattr, kLocked, kExclusive };
  const std::pair<Fault, std::string> cases[] = {
      {kMissingDevice, "-missing: cannot open: No such file or directory"},
      {kFcntl, ": cannot make the line non-blocking: Invalid argument"},
      {kTcgetattr, ": cannot read the line's settings: Inappropriate ioctl for device"},
      {kLocked, ": busy: locked by pid " + std::to_string(live) + " (" + lockFile_ + ")"},
      {kExclusive, ": busy: in exclusive use"},
  };
  for (const auto& [fault, why] : cases) {
    trace.clear();
    PosixCalls::Table table = PosixCalls::system().table();
    port_.setPath(pty_->slavePath() + (fault == kMissingDevice ? "-missing" : ""));
    if (fault == kFcntl) table.fcntl = [](int, int, long) { return errno = EINVAL, -1; };
    if (fault == kTcgetattr) table.tcgetattr = [](int, struct termios*) { return errno = ENOTTY, -1; };
    if (fault == kLocked) locks_.write(std::filesystem::path(lockFile_).filename(), std::to_string(live) + "\n");
    if (fault == kExclusive) {
      std::filesystem::remove(lockFile_);
      ASSERT_EQ(ioctl(pty_->slaveDescriptor(), TIOCEXCL), 0);
      table.tcsetattr = [](int, int, const struct termios*) { return ADD_FAILURE() << "changed the line", 0; };
    }
    calls_ = PosixCalls(table);
    port_.open();
    expectClosedAsBefore();
    EXPECT_EQ(port_.busyHolderPid(), fault == kLocked ? live : 0);
    EXPECT_EQ(port_.busyInExclusiveUse(), fault == kExclusive);
    EXPECT_TRUE(trace.size() == 1 && trace[0].ends_with(" note  " + pty_->slavePath() + why))
        << testing::PrintToString(trace);
    table.close = [](int) {
      ADD_FAILURE() << "closed a descriptor";
      return 0;
    };
    calls_ = PosixCalls(table);
    port_.close();
    calls_ = PosixCalls::system();
  }
  setTraceSink(nullptr);
  EXPECT_FALSE(std::filesystem::exists(lockFile_));
  int exclusive = 0;
  ASSERT_EQ(ioctl(pty_->slaveDescriptor(), TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 1) << "the other program's exclusive mode was cleared";
  ASSERT_EQ(ioctl(pty_->slaveDescriptor(), TIOCNXCL), 0);
}

TEST_F(TTYPortOnPty, SpeedAndFramingApplyToTheOpenLine) {
  port_.open();
  port_.adjustOpenedPortSpeed(57600);
  struct termios t = lineNow();
  EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B57600));
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B57600));
  // Whatever the framing name, the line gets 8-N-1.
  t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | CS7 | PARENB | CSTOPB;
  ASSERT_EQ(tcsetattr(pty_->slaveDescriptor(), TCSANOW, &t), 0);
  port_.adjustOpenedPortSerialOptions("7-E-2");
  t = lineNow();
  EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8));
}

}  // namespace
}  // namespace xr

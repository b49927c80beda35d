#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <cstring>

#include "platform/Posix.h"
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
  std::unique_ptr<PseudoTerminal> pty_;
  struct termios before_{};
  std::set<int> baseDescriptors_;
  size_t baseThreads_ = 0;
  std::shared_ptr<DataHandler> handler_ = std::make_shared<DataHandler>();
  PosixCalls calls_ = PosixCalls::system();  // the port's; a test may replace them
  TTYPort port_{handler_, calls_};
};

TEST_F(TTYPortOnPty, OpenMakesTheLineRawAndCloseRestoresItExactly) {
  port_.setPortSpeed(115200);  // stored only: open keeps the line's speed
  port_.open();
  ASSERT_TRUE(port_.portOpened());
  EXPECT_EQ(threadCount(), baseThreads_ + 1);

  const struct termios t = lineNow();
  struct Flag {
    const char* name;
    tcflag_t field;
    tcflag_t bits;
    bool on;
  } flags[] = {
      {"ICANON", t.c_lflag, ICANON, false}, {"ISIG", t.c_lflag, ISIG, false},
      {"ECHO", t.c_lflag, ECHO, false},     {"ECHOE", t.c_lflag, ECHOE, false},
      {"IXON", t.c_iflag, IXON, false},     {"IXOFF", t.c_iflag, IXOFF, false},
      {"IXANY", t.c_iflag, IXANY, false},   {"OPOST", t.c_oflag, OPOST, false},
      {"ICRNL", t.c_iflag, ICRNL, false},   {"INLCR", t.c_iflag, INLCR, false},
      {"IGNCR", t.c_iflag, IGNCR, false},   {"ISTRIP", t.c_iflag, ISTRIP, false},
      {"PARMRK", t.c_iflag, PARMRK, false}, {"BRKINT", t.c_iflag, BRKINT, false},
      {"INPCK", t.c_iflag, INPCK, false},
      {"PARENB", t.c_cflag, PARENB, false}, {"CSTOPB", t.c_cflag, CSTOPB, false},
      {"CREAD", t.c_cflag, CREAD, true},    {"CLOCAL", t.c_cflag, CLOCAL, true},
      {"CRTSCTS", t.c_cflag, CRTSCTS, true},
      // Everything else stays as the line had it.
      {"IMAXBEL", t.c_iflag, IMAXBEL, true}, {"IGNBRK", t.c_iflag, IGNBRK, true},
      {"ONLCR", t.c_oflag, ONLCR, true},    {"HUPCL", t.c_cflag, HUPCL, true},
      {"PARODD", t.c_cflag, PARODD, true},  {"IEXTEN", t.c_lflag, IEXTEN, true},
  };
  for (const Flag& f : flags) EXPECT_EQ((f.field & f.bits) == f.bits, f.on) << f.name;
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cc[VMIN], 1);
  EXPECT_EQ(t.c_cc[VTIME], 1);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
  // Exactly non-blocking. The kernel adds its large-file flag, which the C library defines as
  // 0 on 64-bit systems.
  constexpr int kKernelLargeFile = 0100000;
  EXPECT_EQ(fcntl(port_.inDescriptor(), F_GETFL) & ~(O_ACCMODE | kKernelLargeFile), O_NONBLOCK);
  int exclusive = 0;
  ASSERT_EQ(ioctl(pty_->slaveDescriptor(), TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 1) << "no other opener while the port talks";
  port_.close();
  ASSERT_EQ(ioctl(pty_->slaveDescriptor(), TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0) << "the tty's exclusive mode outlived the port";
}

// As every real serial device starts: CRs would arrive as LFs, and output would be cooked.
TEST_F(TTYPortOnPty, BytesPassUnchangedOnALineAtTheKernelsDefaults) {
  std::string error;
  pty_ = PseudoTerminal::open(&error, PseudoTerminal::LineSettings::kKernelDefault);
  ASSERT_TRUE(pty_) << error;
  before_ = lineNow();
  ASSERT_TRUE(before_.c_iflag & ICRNL);
  ASSERT_TRUE(before_.c_lflag & ICANON);
  baseDescriptors_ = openDescriptors();
  port_.setPath(pty_->slavePath());
  port_.setStartReadMechOnOpen(false);  // the test reads the line itself
  port_.open();
  ASSERT_TRUE(port_.portOpened());

  const std::string bytes("\r\n\x7f\x03\x11\xff\0OK\r\n\n\r", 13);
  ASSERT_EQ(posix::write(pty_->masterDescriptor(), bytes.data(), bytes.size()), 13);
  const auto whole = [&](const std::string& got) { return got.size() >= bytes.size(); };
  EXPECT_EQ(test::readUntil(port_.inDescriptor(), whole), bytes);
  ASSERT_EQ(posix::write(port_.outDescriptor(), bytes.data(), bytes.size()), 13);
  EXPECT_EQ(test::readUntil(pty_->masterDescriptor(), whole), bytes);
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
  EXPECT_EQ(handler_->descriptor(), -1);
  EXPECT_EQ(handler_->sendData(dataWithString("AT\r")), -1);
  pollfd p{readEnd.get(), POLLIN, 0};
  EXPECT_EQ(posix::poll(&p, 1, 0), 0) << "the send reached the pipe";
  pollfd m{pty_->masterDescriptor(), POLLIN, 0};
  EXPECT_EQ(posix::poll(&m, 1, 0), 0) << "the send reached the closed line";
}

int gOpenFlags = -1;

// Never the caller's controlling terminal, never inherited by a tool.
TEST_F(TTYPortOnPty, OpensWithoutBecomingTheControllingTerminal) {
  PosixCalls::Table recordingOpen = PosixCalls::system().table();
  recordingOpen.open = [](const char* path, int flags, mode_t mode) { return ::open(path, gOpenFlags = flags, mode); };
  calls_ = PosixCalls(recordingOpen);
  port_.open();
  EXPECT_TRUE(port_.portOpened());
  EXPECT_EQ(gOpenFlags, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

// A line that cannot be opened or configured is left closed, as it was; closing the port then
// touches no descriptor.
TEST_F(TTYPortOnPty, FailedOpenLeavesNothingBehind) {
  enum Fault { kMissingDevice, kFcntl, kTcgetattr };
  for (Fault fault : {kMissingDevice, kFcntl, kTcgetattr}) {
    PosixCalls::Table table = PosixCalls::system().table();
    port_.setPath(pty_->slavePath() + (fault == kMissingDevice ? "-missing" : ""));
    if (fault == kFcntl) table.fcntl = [](int, int, long) { return errno = EINVAL, -1; };
    if (fault == kTcgetattr) table.tcgetattr = [](int, struct termios*) { return errno = ENOTTY, -1; };
    calls_ = PosixCalls(table);
    port_.open();
    expectClosedAsBefore();
    table.close = [](int) {
      ADD_FAILURE() << "closed a descriptor";
      return 0;
    };
    calls_ = PosixCalls(table);
    port_.close();
    calls_ = PosixCalls::system();
  }
}

TEST_F(TTYPortOnPty, SpeedAndFramingApplyOnlyToAnOpenLine) {
  port_.adjustOpenedPortSpeed(19200);  // closed: stored, no line touched
  EXPECT_EQ(port_.portSpeed(), 19200);
  port_.open();
  struct termios t = lineNow();
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));

  port_.adjustOpenedPortSpeed(57600);
  t = lineNow();
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

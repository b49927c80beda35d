#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/Posix.h"
#include "serial/DataHandler.h"
#include "support/ProcessResources.h"
#include "tools/modemsim/PseudoTerminal.h"

namespace xr {
namespace {
using test::eventually;
using test::threadCount;

// Collects what the handler announces.
class Inbox {
 public:
  explicit Inbox(DataHandler& handler, std::function<void()> also = nullptr)
      : handler_(handler), also_(std::move(also)) {
    handler_.addObserver(this, [this](const Notification& n) { take(n); }, 2);
  }
  ~Inbox() { handler_.removeObserver(this); }

  bool waitFor(size_t count) {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, std::chrono::seconds(10), [&] { return chunks_.size() >= count; });
  }
  std::vector<std::string> chunks() {
    std::lock_guard lock(mutex_);
    return chunks_;
  }
  std::string joined() {
    std::string all;
    for (const auto& c : chunks()) all += c;
    return all;
  }
  bool waitForBytes(size_t n) {
    return eventually([&] { return joined().size() >= n; });
  }

 private:
  void take(const Notification& n) {
    ASSERT_EQ(n.name, "InputDataAvailableNotification");
    ASSERT_EQ(n.object, nullptr);
    ASSERT_TRUE(n.userInfo);
    ASSERT_EQ(n.userInfo->size(), 1u);
    const Value* bytes = n.userInfo->find("InputDataAvailableNotification");
    ASSERT_TRUE(bytes && bytes->data());
    {
      std::lock_guard lock(mutex_);
      chunks_.push_back(bytes->data()->asString());
    }
    arrived_.notify_all();
    if (also_) also_();
  }

  DataHandler& handler_;
  std::function<void()> also_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<std::string> chunks_;
};

void writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = posix::write(fd, bytes.data(), bytes.size());
    if (n > 0) {
      bytes.remove_prefix(static_cast<size_t>(n));
    } else {
      pollfd p{fd, POLLOUT, 0};
      ASSERT_EQ(posix::poll(&p, 1, 10000), 1);
    }
  }
}

std::string readExactly(int fd, size_t n) {
  std::string got;
  char buffer[256];
  while (got.size() < n) {
    pollfd p{fd, POLLIN, 0};
    if (posix::poll(&p, 1, 10000) != 1) break;
    const ssize_t r = posix::read(fd, buffer, std::min(sizeof buffer, n - got.size()));
    if (r > 0) got.append(buffer, static_cast<size_t>(r));
  }
  return got;
}

class DataHandlerOnPty : public testing::Test {
 protected:
  void SetUp() override {
    baseThreads_ = threadCount();
    std::string error;
    pty_ = PseudoTerminal::open(&error);
    ASSERT_TRUE(pty_) << error;
    line_.reset(posix::open(pty_->slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
    ASSERT_TRUE(line_.valid());
  }
  void TearDown() override {
    handler_.setHalt(true);
    EXPECT_EQ(threadCount(), baseThreads_);
  }
  int master() { return pty_->masterDescriptor(); }

  size_t baseThreads_ = 0;
  std::unique_ptr<PseudoTerminal> pty_;
  FileDescriptor line_;
  DataHandler handler_;
};

TEST_F(DataHandlerOnPty, EachReadIsAnnouncedWithOnlyItsOwnBytes) {
  Inbox inbox(handler_);
  EXPECT_EQ(handler_.inputDataNotificationMode(), 2);
  handler_.startReadMechanismForDescriptor(line_.get());
  const std::vector<std::string> pieces = {"ATI4\r", "\r\nO", "K\r\n", std::string("\0\xff", 2)};
  for (size_t i = 0; i < pieces.size(); ++i) {
    writeAll(master(), pieces[i]);
    ASSERT_TRUE(inbox.waitFor(i + 1));
  }
  EXPECT_EQ(inbox.chunks(), pieces);
}

TEST_F(DataHandlerOnPty, LogsEveryWriteAndReadWithItsOwnBytes) {
  Inbox inbox(handler_);
  handler_.startReadMechanismForDescriptor(line_.get());
  const size_t before = handler_.eventLog().size();

  EXPECT_EQ(handler_.sendData(dataWithString("quiet")), 5);  // logging off
  EXPECT_EQ(readExactly(master(), 5), "quiet");
  handler_.setLogDataEvents(true);
  EXPECT_EQ(handler_.sendData(dataWithString("AT\r")), 3);
  EXPECT_EQ(readExactly(master(), 3), "AT\r");
  writeAll(master(), "\r\nOK");
  ASSERT_TRUE(inbox.waitFor(1));
  writeAll(master(), "\r\n");
  ASSERT_TRUE(inbox.waitFor(2));
  // Empty data: nothing written, nothing logged, the last count again.
  EXPECT_EQ(handler_.sendData(Data()), 3);
  EXPECT_EQ(handler_.sendData(dataWithString("Z")), 1);
  EXPECT_EQ(readExactly(master(), 1), "Z");

  // A failed write gives -1 and is logged all the same.
  handler_.setDescriptor(-1);
  EXPECT_EQ(handler_.sendData(dataWithString("lost")), -1);

  const auto log = handler_.eventLog();
  ASSERT_EQ(log.size(), before + 5);
  const std::vector<std::string> expected = {"AT\r", "\r\nOK", "\r\n", "Z", "lost"};
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(log[before + i].logData.asString(), expected[i]);
}

TEST_F(DataHandlerOnPty, AfterHaltTheNextOpeningGetsWhatCameLater) {
  Inbox inbox(handler_);
  handler_.startReadMechanismForDescriptor(line_.get());
  EXPECT_EQ(threadCount(), baseThreads_ + 1);
  handler_.setHalt(true);
  EXPECT_TRUE(handler_.halt());
  // setHalt has joined the thread, so nothing can read these bytes until the next opening.
  EXPECT_EQ(threadCount(), baseThreads_);
  writeAll(master(), "late");
  handler_.startReadMechanismForDescriptor(line_.get());
  EXPECT_FALSE(handler_.halt());
  ASSERT_TRUE(inbox.waitForBytes(4));
  EXPECT_EQ(inbox.joined(), "late");
}

TEST_F(DataHandlerOnPty, ReopeningNeverLeavesTwoReaders) {
  Inbox inbox(handler_);
  for (int i = 0; i < 5; ++i) {
    handler_.startReadMechanismForDescriptor(line_.get());
    EXPECT_EQ(threadCount(), baseThreads_ + 1);
  }
  writeAll(master(), "once");
  ASSERT_TRUE(inbox.waitForBytes(4));
  EXPECT_EQ(inbox.joined(), "once");
}

TEST_F(DataHandlerOnPty, ReaderEndsByItselfWhenTheLineGoesOrItsWaitFails) {
  handler_.startReadMechanismForDescriptor(line_.get());
  pty_->hangUp();
  EXPECT_TRUE(eventually([&] { return threadCount() == baseThreads_; }));
  handler_.setHalt(true);  // joins it before the system calls change under it

  ScopedPosixCalls restore;
  posixCalls().poll = [](pollfd*, unsigned long, int) {
    errno = EINVAL;
    return -1;
  };
  handler_.startReadMechanismForDescriptor(line_.get());
  EXPECT_TRUE(eventually([&] { return threadCount() == baseThreads_; }));
  handler_.setHalt(true);
}

TEST_F(DataHandlerOnPty, AnObserverMayHaltTheReaderFromItsCallback) {
  Inbox inbox(handler_, [this] { handler_.setHalt(true); });
  handler_.startReadMechanismForDescriptor(line_.get());
  writeAll(master(), "x");
  ASSERT_TRUE(inbox.waitFor(1));
  EXPECT_TRUE(eventually([&] { return threadCount() == baseThreads_; }));
  handler_.startReadMechanismForDescriptor(line_.get());
  writeAll(master(), "y");
  ASSERT_TRUE(inbox.waitFor(2));
  EXPECT_EQ(inbox.joined(), "xy");
}

TEST_F(DataHandlerOnPty, BothThreadsAppendToTheLog) {
  handler_.setLogDataEvents(true);
  Inbox inbox(handler_);
  handler_.startReadMechanismForDescriptor(line_.get());
  const size_t before = handler_.eventLog().size();
  constexpr int kRounds = 300;
  std::thread modem([&] {
    for (int i = 0; i < kRounds; ++i) writeAll(master(), "r");
  });
  for (int i = 0; i < kRounds; ++i) handler_.sendData(dataWithString("w"));
  modem.join();
  ASSERT_TRUE(inbox.waitForBytes(kRounds));
  EXPECT_EQ(readExactly(master(), kRounds), std::string(kRounds, 'w'));

  size_t written = 0;
  std::string read;
  const auto log = handler_.eventLog();
  for (size_t i = before; i < log.size(); ++i) {
    const std::string bytes = log[i].logData.asString();
    if (bytes == "w") {
      ++written;
    } else {
      read += bytes;
    }
  }
  EXPECT_EQ(written, static_cast<size_t>(kRounds));
  EXPECT_EQ(read, std::string(kRounds, 'r'));
}

}  // namespace
}  // namespace xr

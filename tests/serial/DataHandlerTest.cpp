#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <mutex>

#include "platform/Posix.h"
#include "serial/DataHandler.h"
#include "support/ProcessResources.h"
#include "profile/PseudoTerminal.h"

namespace xr {
namespace {
using test::eventually;
using test::threadCount;

// Collects what the handler announces; `also` runs in each callback after that.
class Inbox {
 public:
  explicit Inbox(DataHandler& handler, std::function<void()> also = nullptr) : handler_(handler) {
    handler_.addObserver(
        this,
        [this, also](const Notification& n) {
          const Value* bytes = n.userInfo ? n.userInfo->find("InputDataAvailableNotification") : nullptr;
          ASSERT_TRUE(bytes && bytes->data()) << n.name;
          {
            std::lock_guard lock(mutex_);
            chunks_.push_back(bytes->data()->asString());
          }
          if (also) also();
        },
        2);
  }
  ~Inbox() { handler_.removeObserver(this); }

  std::vector<std::string> chunks() {
    std::lock_guard lock(mutex_);
    return chunks_;
  }
  bool waitForChunks(size_t n) { return eventually([&] { return chunks().size() >= n; }); }

 private:
  DataHandler& handler_;
  std::mutex mutex_;
  std::vector<std::string> chunks_;
};

void writeAll(int fd, std::string_view bytes) {
  for (pollfd p{fd, POLLOUT, 0}; !bytes.empty();) {
    const ssize_t n = posix::write(fd, bytes.data(), bytes.size());
    if (n > 0) {
      bytes.remove_prefix(static_cast<size_t>(n));
    } else {
      ASSERT_EQ(posix::poll(&p, 1, 10000), 1);
    }
  }
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
  PosixCalls calls_ = PosixCalls::system();  // the handler's; a test may replace them
  DataHandler handler_{calls_};
};

// A device that never stops sending: the log keeps only its newest bytes, within its bound.
TEST_F(DataHandlerOnPty, EventLogKeepsABoundedTail) {
  std::string flood;
  for (int i = 0; flood.size() < 3u * DataHandler::kEventLogLimit; ++i) flood += std::to_string(i) + "\n";
  std::atomic<size_t> read{0};
  handler_.addObserver(
      this, [&](const Notification& n) { read += n.userInfo->find(n.name)->data()->length(); }, 2);
  handler_.setLogDataEvents(true);
  handler_.startReadMechanismForDescriptor(line_.get());
  writeAll(master(), flood);
  EXPECT_TRUE(eventually([&] { return read == flood.size(); }));
  handler_.removeObserver(this);

  const auto log = handler_.eventLog();
  std::string kept;
  size_t charged = 0;
  for (const auto& entry : log) {
    kept += entry.logData.asString();
    charged += DataHandler::chargeForEntry(entry);
  }
  EXPECT_EQ(handler_.eventLogBytes(), charged);
  EXPECT_LE(charged, DataHandler::kEventLogLimit);
  EXPECT_GT(kept.size(), DataHandler::kEventLogLimit / 2);
  EXPECT_TRUE(flood.ends_with(kept));
  // One entry larger than the whole log keeps its newest bytes.
  handler_.addEventLogEntryData(dataWithString(flood));
  ASSERT_EQ(handler_.eventLog().size(), 1u);
  EXPECT_TRUE(flood.ends_with(handler_.eventLog().front().logData.asString()));
  EXPECT_LE(handler_.eventLogBytes(), DataHandler::kEventLogLimit);
}

// Each opening has one reader; after a halt nothing reads until the next opening.
TEST_F(DataHandlerOnPty, OneReaderPerOpening) {
  Inbox inbox(handler_);
  for (int i = 0; i < 3; ++i) {
    handler_.startReadMechanismForDescriptor(line_.get());
    EXPECT_EQ(threadCount(), baseThreads_ + 1);
  }
  handler_.setHalt(true);
  EXPECT_EQ(threadCount(), baseThreads_);  // joined already
  writeAll(master(), "late");
  handler_.startReadMechanismForDescriptor(line_.get());
  // Then each read is announced with only its own bytes.
  const std::vector<std::string> pieces = {"late", "\r\nO", "K\r\n", std::string("\0\xff", 2)};
  for (size_t i = 0; i < pieces.size(); ++i) {
    if (i > 0) writeAll(master(), pieces[i]);
    ASSERT_TRUE(inbox.waitForChunks(i + 1));
  }
  EXPECT_EQ(inbox.chunks(), pieces);
}

TEST_F(DataHandlerOnPty, ReaderEndsByItselfWhenTheLineGoesOrItsWaitFails) {
  handler_.startReadMechanismForDescriptor(line_.get());
  pty_->hangUp();
  EXPECT_TRUE(eventually([&] { return threadCount() == baseThreads_; }));
  handler_.setHalt(true);  // joins it before the system calls change under it

  PosixCalls::Table failingPoll = PosixCalls::system().table();
  failingPoll.poll = [](pollfd*, unsigned long, int) {
    errno = EINVAL;
    return -1;
  };
  calls_ = PosixCalls(failingPoll);
  handler_.startReadMechanismForDescriptor(line_.get());
  EXPECT_TRUE(eventually([&] { return threadCount() == baseThreads_; }));
  handler_.setHalt(true);
}

TEST_F(DataHandlerOnPty, AnObserverMayHaltTheReaderFromItsCallback) {
  Inbox inbox(handler_, [this] { handler_.setHalt(true); });
  handler_.startReadMechanismForDescriptor(line_.get());
  writeAll(master(), "x");
  ASSERT_TRUE(inbox.waitForChunks(1));
  EXPECT_TRUE(eventually([&] { return threadCount() == baseThreads_; }));
  handler_.startReadMechanismForDescriptor(line_.get());
  writeAll(master(), "y");
  ASSERT_TRUE(inbox.waitForChunks(2));
  EXPECT_EQ(inbox.chunks(), (std::vector<std::string>{"x", "y"}));
}

}  // namespace
}  // namespace xr

#pragma once

#include <atomic>
#include <deque>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Data.h"
#include "platform/NotificationCenter.h"
#include "platform/Posix.h"
#include "serial/DataHandlerLogEntry.h"

namespace xr {

// The serial line's data flow: one read thread per opening of the line, which announces
// every burst it reads as "InputDataAvailableNotification" through the default notification
// centre, synchronously on that thread; writes; and an optional log of both directions.
class DataHandler {
 public:
  static constexpr size_t kInputBufferSize = 16384;
  // The event log keeps the newest entries within this many bytes, each entry charged its
  // bytes and its bookkeeping: a device that never stops sending costs a bounded amount.
  static constexpr size_t kEventLogLimit = 1u << 20;

  static std::shared_ptr<DataHandler> sharedDataHandler();

  // calls: the system calls the read thread and writes make.
  explicit DataHandler(const PosixCalls& calls = PosixCalls::system());
  ~DataHandler();  // halts and joins the read thread
  DataHandler(const DataHandler&) = delete;
  DataHandler& operator=(const DataHandler&) = delete;

  // Starts a read thread on fd. A thread of an earlier opening is stopped and joined first,
  // so two threads never read one line. fd stays owned by the caller.
  void startReadMechanismForDescriptor(int fd);
  // One write(2) of all the bytes; its result, or the previous one when data is empty.
  int32_t sendData(const Data& data);

  void addObserver(const void* observer, NotificationCenter::Callback callback, int32_t mode);
  // Does not return while a callback to the observer runs on the read thread.
  void removeObserver(const void* observer);

  bool halt() const { return _halt.load(); }
  // true stops the current read thread: it ends when its wait returns and, unless called from
  // that thread, has ended when this returns, so the descriptor may then be closed.
  void setHalt(bool halt);
  bool logDataEvents() const { return _logDataEvents.load(); }
  void setLogDataEvents(bool on) { _logDataEvents = on; }
  int descriptor() const { return _descriptor.load(); }
  void setDescriptor(int fd) { _descriptor = fd; }
  int32_t bytesWritten() const { return _bytesWritten.load(); }
  const std::string& inputDataAvailableNotificationName() const { return _inputDataAvailableNotificationName; }
  int32_t inputDataNotificationMode() const { return _inputDataNotificationMode.load(); }
  // Set when a command on this line got no complete reply in time: its reply may still come,
  // so the next command must not take it for its own. A new opening starts clear.
  bool commandUnanswered() const { return _commandUnanswered.load(); }
  void setCommandUnanswered(bool unanswered) { _commandUnanswered = unanswered; }
  // Set once a reply on this opening held its command's echo. A new opening starts clear.
  bool modemEchoes() const { return _modemEchoes.load(); }
  void setModemEchoes(bool echoes) { _modemEchoes = echoes; }
  // Throws away what arrived so far and was not yet announced: the kernel's input queue is
  // flushed, and a read already under way is announced before this returns.
  void discardPendingInput();
  // Bytes of the latest read; for the read thread (observers) only.
  const Data& temporaryData() const { return _temporaryData; }

  // A snapshot, oldest first: entries are appended from both threads.
  std::vector<DataHandlerLogEntry> eventLog() const;
  // What the log's entries are charged against kEventLogLimit.
  size_t eventLogBytes() const;
  static size_t chargeForEntry(const DataHandlerLogEntry& entry);
  void addEventLogEntryData(const Data& data);

 private:
  struct Reader;

  void serialReadThread(Reader* reader);
  // One read burst; false once the thread must end (stopped, or the line is gone).
  bool fireOffARead(Reader* reader);
  void dataRead(const uint8_t* bytes, size_t n);
  void stopReader();

  const PosixCalls& _calls;
  std::vector<uint8_t> _inputBuffer;
  std::atomic<int> _descriptor{-1};
  std::atomic<int32_t> _bytesWritten{0};
  std::atomic<bool> _halt{false};
  const std::string _inputDataAvailableNotificationName{"InputDataAvailableNotification"};
  std::atomic<int32_t> _inputDataNotificationMode{1};
  mutable std::mutex _eventLogMutex;
  std::deque<DataHandlerLogEntry> _eventLog;  // guarded by _eventLogMutex
  size_t _eventLogBytes = 0;                  // guarded by _eventLogMutex
  std::atomic<bool> _logDataEvents{false};
  Data _temporaryData;
  std::atomic<bool> _commandUnanswered{false};
  std::atomic<bool> _modemEchoes{false};
  // Held by the read thread from a read to the end of its announcement.
  std::mutex _readMutex;

  std::mutex _readerMutex;
  std::unique_ptr<Reader> _reader;   // guarded by _readerMutex
  std::unique_ptr<Reader> _retired;  // halted from its own thread; joined later
};

}  // namespace xr

#include "serial/DataHandler.h"

#include <poll.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/BlockedSignals.h"
#include "platform/Posix.h"
#include "platform/Trace.h"
#include "serial/TimeMaster.h"

namespace xr {

// One opening's read thread with its own stop flag and wake-up pipe: close wakes it at once
// instead of it polling for the flag, and a later opening never shares its flag.
struct DataHandler::Reader {
  int fd = -1;
  FileDescriptor wakeRead;
  FileDescriptor wakeWrite;
  std::atomic<bool> stop{false};
  std::thread thread;

  void requestStop() {
    stop = true;
    const char byte = 1;
    (void)posix::write(wakeWrite.get(), &byte, 1);
  }
};

namespace {
void traceData(const char* direction, const Data& data) {
  if (!traceEnabled()) return;
  const float upTime = static_cast<float>(TimeMaster::systemTimeInMilliseconds() / 1000.0);
  trace(DataHandlerLogEntry::upTimeText(upTime) + " " + direction + " " + data.description() + " \"" +
        traceEscaped(data.asString()) + "\"");
}
}  // namespace

std::shared_ptr<DataHandler> DataHandler::sharedDataHandler() {
  // The centre is made first so that it outlives the handler, whose thread posts to it.
  static NotificationCenter& center = NotificationCenter::defaultCenter();
  (void)center;
  static std::shared_ptr<DataHandler> shared = std::make_shared<DataHandler>();
  return shared;
}

DataHandler::DataHandler(const PosixCalls& calls) : _calls(calls), _inputBuffer(kInputBufferSize) {}

DataHandler::~DataHandler() { setHalt(true); }

void DataHandler::setHalt(bool halt) {
  _halt = halt;
  if (halt) stopReader();
}

void DataHandler::stopReader() {
  std::unique_ptr<Reader> current;
  std::unique_ptr<Reader> retired;
  {
    std::lock_guard lock(_readerMutex);
    current = std::move(_reader);
    retired = std::move(_retired);
  }
  if (current) current->requestStop();
  const auto self = std::this_thread::get_id();
  for (std::unique_ptr<Reader>* reader : {&current, &retired}) {
    if (!*reader) continue;
    if ((*reader)->thread.get_id() == self) {
      // Halted by an observer on the read thread itself: it ends once the callback returns,
      // and the next stop, start or the destructor joins it.
      std::lock_guard lock(_readerMutex);
      _retired = std::move(*reader);
    } else {
      (*reader)->thread.join();
    }
  }
}

void DataHandler::startReadMechanismForDescriptor(int fd) {
  stopReader();
  _halt = false;
  _commandUnanswered = false;
  _modemEchoes = false;
  _descriptor = fd;
  auto reader = std::make_unique<Reader>();
  reader->fd = fd;
  if (!makePipe(&reader->wakeRead, &reader->wakeWrite)) return;
  {
    const BlockedSignals blocked = BlockedSignals::termination();
    reader->thread = std::thread(&DataHandler::serialReadThread, this, reader.get());
  }
  std::lock_guard lock(_readerMutex);
  _reader = std::move(reader);
}

void DataHandler::serialReadThread(Reader* reader) {
  while (!reader->stop && fireOffARead(reader)) {
  }
}

bool DataHandler::fireOffARead(Reader* reader) {
  if (reader->fd == -1) return false;
  for (;;) {
    pollfd fds[2] = {{reader->fd, POLLIN, 0}, {reader->wakeRead.get(), POLLIN, 0}};
    if (_calls.poll(fds, 2, -1) < 0) return false;
    if (reader->stop) return false;
    if (fds[0].revents & POLLIN) {
      std::unique_lock reading(_readMutex);
      const ssize_t n = _calls.read(reader->fd, _inputBuffer.data(), _inputBuffer.size());
      if (n > 0) {
        dataRead(_inputBuffer.data(), static_cast<size_t>(n));
        continue;
      }
      reading.unlock();
      // Nothing there after all: wait again. End of file or a hard error: the line is gone
      // (a hung-up tty stays readable), so waiting on it again would spin.
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
      return false;
    }
    if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return false;
  }
}

void DataHandler::dataRead(const uint8_t* bytes, size_t n) {
  _temporaryData.clear();
  _temporaryData.append(bytes, n);
  if (_logDataEvents) addEventLogEntryData(_temporaryData);
  traceData("read ", _temporaryData);
  Notification notification{_inputDataAvailableNotificationName, nullptr,
                            makeDictionary({{_inputDataAvailableNotificationName, Value(_temporaryData)}})};
  NotificationCenter::defaultCenter().post(notification);
}

int32_t DataHandler::sendData(const Data& data) {
  if (data.empty()) return _bytesWritten;
  // Traced before it is written, so that a quick reply never shows above its command.
  traceData("write", data);
  const int fd = _descriptor;
  const ssize_t n = fd < 0 ? -1 : _calls.write(fd, data.bytes(), data.length());
  if (n < 0) {
    const int error = fd < 0 ? EBADF : errno;
    traceNote("write failed: ", std::strerror(error));
  }
  _bytesWritten = static_cast<int32_t>(n);
  if (_logDataEvents) addEventLogEntryData(data);
  return _bytesWritten;
}

void DataHandler::addObserver(const void* observer, NotificationCenter::Callback callback, int32_t mode) {
  _inputDataNotificationMode = mode;
  NotificationCenter::defaultCenter().addObserver(observer, _inputDataAvailableNotificationName, nullptr,
                                                  std::move(callback));
}

void DataHandler::removeObserver(const void* observer) { NotificationCenter::defaultCenter().removeObserver(observer); }

void DataHandler::discardPendingInput() {
  std::lock_guard reading(_readMutex);
  const int fd = _descriptor;
  if (fd >= 0) (void)_calls.tcflush(fd, TCIFLUSH);
}

std::vector<DataHandlerLogEntry> DataHandler::eventLog() const {
  std::lock_guard lock(_eventLogMutex);
  return {_eventLog.begin(), _eventLog.end()};
}

size_t DataHandler::eventLogBytes() const {
  std::lock_guard lock(_eventLogMutex);
  return _eventLogBytes;
}

size_t DataHandler::chargeForEntry(const DataHandlerLogEntry& entry) {
  // The bytes' own block and the allocator's header beside the entry itself.
  return sizeof(DataHandlerLogEntry) + entry.logData.length() + 16;
}

void DataHandler::addEventLogEntryData(const Data& data) {
  // Only the newest bytes of an entry larger than the whole log fit.
  const size_t room = kEventLogLimit - sizeof(DataHandlerLogEntry) - 16;
  DataHandlerLogEntry entry(data.length() <= room ? data : Data(data.bytes() + data.length() - room, room));
  const size_t charge = chargeForEntry(entry);
  std::lock_guard lock(_eventLogMutex);
  while (!_eventLog.empty() && _eventLogBytes + charge > kEventLogLimit) {
    _eventLogBytes -= chargeForEntry(_eventLog.front());
    _eventLog.pop_front();
  }
  _eventLog.push_back(std::move(entry));
  _eventLogBytes += charge;
}

}  // namespace xr

#include "tasks/AsynchronousTaskRunner.h"

#include <poll.h>

#include <condition_variable>
#include <deque>
#include <mutex>

#include "platform/BlockedSignals.h"
#include "tasks/Utf8.h"

namespace xr {

// What the reader and waiter threads hand to the run loop.
struct AsynchronousTaskRunner::Channel {
  enum class Kind { Output, EndOfData, Terminated };
  struct Event {
    Kind kind;
    std::string bytes;
  };

  std::mutex mutex;
  std::condition_variable rearmed;
  std::deque<Event> events;
  bool armed = true;       // the reader may take the next piece
  bool stopping = false;   // the reader must end
  AsynchronousTaskRunner* owner = nullptr;  // nullptr once the runner is going away

  void push(Kind kind, std::string bytes = {}) {
    std::lock_guard lock(mutex);
    events.push_back({kind, std::move(bytes)});
  }
};


// Reads one piece each time the loop has delivered the last. Pieces end on whole UTF-8
// characters where the bytes allow, so a character split between two reads is not lost.
void AsynchronousTaskRunner::readOutput(std::shared_ptr<Channel> channel, std::shared_ptr<RunLoopSource> source,
                                        Process* process, size_t maxOutput, int stopFd) {
  const int fd = process->outputDescriptor();
  std::string carry;
  char buffer[65536];
  size_t total = 0;
  for (;;) {
    {
      std::unique_lock lock(channel->mutex);
      channel->rearmed.wait(lock, [&] { return channel->armed || channel->stopping; });
      if (channel->stopping) return;
    }
    pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
    if (posix::poll(fds, 2, -1) < 0 || fds[1].revents != 0) return;
    ssize_t n = posix::read(fd, buffer, sizeof buffer);
    total += n > 0 ? static_cast<size_t>(n) : 0;
    if (total > maxOutput) {
      process->kill();  // a tool that prints without end: the run fails, nothing more is passed on
      n = 0;
    }
    if (n <= 0) {
      if (!carry.empty()) channel->push(Channel::Kind::Output, std::move(carry));
      channel->push(Channel::Kind::EndOfData);
      source->signal();
      return;
    }
    carry.append(buffer, static_cast<size_t>(n));
    size_t whole = completeUtf8Prefix(carry);
    if (whole == 0) continue;
    {
      std::lock_guard lock(channel->mutex);
      channel->armed = false;
      channel->events.push_back({Channel::Kind::Output, carry.substr(0, whole)});
    }
    carry.erase(0, whole);
    source->signal();
  }
}

AsynchronousTaskRunner::AsynchronousTaskRunner(AsynchronousTaskRunnerClient* client, std::string launchPath,
                                               std::vector<std::string> arguments)
    : TaskRunner(client, std::move(launchPath), std::move(arguments)), _channel(std::make_shared<Channel>()) {
  _channel->owner = this;
}

AsynchronousTaskRunner::~AsynchronousTaskRunner() {
  // First the source: once it is invalid no perform runs on another thread, and one running
  // on this thread (we are inside a callback) sees owner gone when the callback returns.
  if (_source) _source->invalidate();
  {
    std::lock_guard lock(_channel->mutex);
    _channel->owner = nullptr;
    _channel->stopping = true;
  }
  _channel->rearmed.notify_all();
  if (_stopWrite) posix::write(_stopWrite.get(), "x", 1);
  if (_task) _task->kill();
  if (_reader.joinable()) _reader.join();
  if (_waiter.joinable()) _waiter.join();
}

AsynchronousTaskRunnerClient* AsynchronousTaskRunner::asyncClient() const {
  return static_cast<AsynchronousTaskRunnerClient*>(_client);
}

void AsynchronousTaskRunner::startTask() {
  TaskRunner::startTask();
  if (_client) _client->taskStarted();
  if (_started) return;  // a runner runs its tool once
  _started = true;
  _source = std::make_shared<RunLoopSource>([channel = _channel] { deliver(channel); });
  RunLoop::current().addSource(_source);
  if (!makePipe(&_stopRead, &_stopWrite) || !launch()) {
    _channel->push(Channel::Kind::EndOfData);
    _channel->push(Channel::Kind::Terminated);
    _source->signal();
    return;
  }
  const BlockedSignals blocked = BlockedSignals::termination();
  _reader = std::thread(readOutput, _channel, _source, _task.get(), _limits.maxOutput, _stopRead.get());
  _waiter = std::thread([channel = _channel, source = _source, process = _task.get(), limit = _limits.timeLimit] {
    if (!process->waitFor(limit)) process->kill();
    process->wait();
    channel->push(Channel::Kind::Terminated);
    source->signal();
  });
}

void AsynchronousTaskRunner::stopTask() {
  TaskRunner::stopTask();
  if (!_stopped) {
    _stopped = true;
    {
      std::lock_guard lock(_channel->mutex);
      _channel->stopping = true;
    }
    _channel->rearmed.notify_all();
    if (_stopWrite) posix::write(_stopWrite.get(), "x", 1);
  }
  if (_task) _task->terminate();
}

// Runs on the loop's thread. A callback may destroy the runner, so the owner is looked up
// again before each event and nothing of the runner is touched after a callback.
void AsynchronousTaskRunner::deliver(const std::shared_ptr<Channel>& channel) {
  for (;;) {
    AsynchronousTaskRunner* runner;
    Channel::Event event;
    {
      std::lock_guard lock(channel->mutex);
      if (!channel->owner || channel->events.empty()) return;
      runner = channel->owner;
      event = std::move(channel->events.front());
      channel->events.pop_front();
    }
    switch (event.kind) {
      case Channel::Kind::Output:
        runner->taskDataReady(event.bytes);
        break;
      case Channel::Kind::EndOfData:
        runner->taskDataReady({});
        break;
      case Channel::Kind::Terminated:
        runner->taskComplete();
        break;
    }
  }
}

void AsynchronousTaskRunner::taskDataReady(const std::string& piece) {
  if (piece.empty()) {
    stopTask();
    return;
  }
  if (_stopped) return;  // no longer listening
  {
    std::lock_guard lock(_channel->mutex);
    _channel->armed = true;
  }
  _channel->rearmed.notify_all();
  auto* client = asyncClient();
  if (client) client->taskOutput(isValidUtf8(piece) ? std::optional<std::string>(piece) : std::nullopt);
}

void AsynchronousTaskRunner::taskComplete() {
  if (auto* client = asyncClient()) client->taskEnded();
}

}  // namespace xr

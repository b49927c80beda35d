#include "platform/RunLoop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/CallbackGate.h"
#include "platform/Posix.h"

namespace xr {

struct RunLoop::Impl {
  std::mutex mutex;
  std::vector<std::shared_ptr<RunLoopSource::State>> sources;  // in the order added
  bool stopRequested = false;

  // An eventfd that whoever wakes the loop writes and the loop reads empty before each wait.
  // It exists only while the loop runs: a loop that is not running holds no descriptor, so
  // a report that never runs its thread's loop leaves nothing open. Made and closed on the
  // loop's thread; wakeMutex keeps a waker from writing to it as it closes (and its number is
  // reused).
  std::mutex wakeMutex;
  FileDescriptor wakeFd;
  int runDepth = 0;  // runs in progress on the loop's thread (a perform may run it again)

  void beginRun() {
    if (runDepth++ > 0) return;
    std::lock_guard lock(wakeMutex);
    wakeFd.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  }
  void endRun() {
    if (--runDepth > 0) return;
    std::lock_guard lock(wakeMutex);
    wakeFd.reset();
  }
  void wake() {
    std::lock_guard lock(wakeMutex);
    if (!wakeFd) return;  // not running: the next run looks at the pending flags first
    const uint64_t one = 1;
    ssize_t n = ::write(wakeFd.get(), &one, sizeof one);  // full (never): already awake
    (void)n;
  }
  void clearWake() const {
    uint64_t count;
    ssize_t n = ::read(wakeFd.get(), &count, sizeof count);
    (void)n;
  }
  // One run, holding the wake-up descriptor until it ends, on every path out.
  class Run {
   public:
    explicit Run(Impl& impl) : impl_(impl) { impl_.beginRun(); }
    ~Run() { impl_.endRun(); }
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

   private:
    Impl& impl_;
  };

  bool anyPending() const;
  bool performPending();
  // Waits until a source is pending, stop() is called, the loop has no sources or the
  // deadline passes. False when the run should end.
  bool waitForWork(Clock::time_point deadline);
};

struct RunLoopSource::State {
  State(int fd, std::function<void()> p) : descriptor(fd), perform(std::move(p)) {}
  const int descriptor;
  const std::function<void()> perform;
  // Set by signal or a readable descriptor, cleared when performed.
  std::atomic<bool> pending{false};
  // The descriptor was found closed under the loop: it is not waited on again.
  std::atomic<bool> descriptorGone{false};

  std::mutex mutex;
  std::condition_variable idle;
  bool valid = true;
  std::weak_ptr<RunLoop::Impl> loop;
  const RunLoop::Impl* loopId = nullptr;  // identity of loop, compared without locking it
  CallbackGate performing;  // the loop's thread, while it performs

  // After this returns no perform is running on another thread.
  void waitIdle(std::unique_lock<std::mutex>& lock) {
    idle.wait(lock, [&] { return performing.idleButForCaller(); });
  }
  static void detach(const std::shared_ptr<State>& state);
};

// Removes state from the loop it is attached to (if any) and waits for a perform in flight.
void RunLoopSource::State::detach(const std::shared_ptr<State>& state) {
  std::unique_lock lock(state->mutex);
  auto loop = state->loop.lock();
  state->loop.reset();
  state->loopId = nullptr;
  state->waitIdle(lock);
  lock.unlock();
  if (loop) {
    std::lock_guard loopLock(loop->mutex);
    std::erase(loop->sources, state);
    loop->wake();  // a wait in progress drops the descriptor
  }
}

// ---- RunLoopSource ----

RunLoopSource::RunLoopSource(std::function<void()> perform) : RunLoopSource(-1, std::move(perform)) {}

RunLoopSource::RunLoopSource(int descriptor, std::function<void()> perform)
    : state_(std::make_shared<State>(descriptor, std::move(perform))) {}

RunLoopSource::~RunLoopSource() {
  invalidate();
  State::detach(state_);
}

void RunLoopSource::signal() {
  std::shared_ptr<RunLoop::Impl> loop;
  {
    std::lock_guard lock(state_->mutex);
    if (!state_->valid) return;
    state_->pending = true;
    loop = state_->loop.lock();
  }
  // The loop reads its eventfd empty before it looks at the pending flags, so this write,
  // after the flag, cannot be lost between that look and its wait; a loop not running has
  // no eventfd and looks at the flags when it starts.
  if (loop) loop->wake();  // otherwise performed once it is added to a loop
}

void RunLoopSource::invalidate() {
  std::shared_ptr<RunLoop::Impl> loop;
  {
    std::unique_lock lock(state_->mutex);
    state_->valid = false;
    state_->pending = false;
    state_->waitIdle(lock);
    loop = state_->loop.lock();
  }
  if (loop && state_->descriptor >= 0) loop->wake();
}

bool RunLoopSource::isValid() const {
  std::lock_guard lock(state_->mutex);
  return state_->valid;
}

int RunLoopSource::descriptor() const { return state_->descriptor; }

// ---- RunLoop ----

bool RunLoop::Impl::anyPending() const {
  return std::any_of(sources.begin(), sources.end(), [](const auto& s) { return s->pending.load(); });
}

bool RunLoop::Impl::performPending() {
  std::vector<std::shared_ptr<RunLoopSource::State>> snapshot;
  {
    std::lock_guard lock(mutex);
    snapshot = sources;
  }
  bool performed = false;
  for (const auto& s : snapshot) {
    {
      std::lock_guard lock(s->mutex);
      // Invalidated or moved away since the snapshot was taken: not ours to perform.
      if (!s->valid || s->loopId != this || !s->pending.exchange(false)) continue;
      s->performing.enter();
    }
    s->perform();
    std::lock_guard lock(s->mutex);
    s->performing.leave();
    s->idle.notify_all();
    performed = true;
  }
  return performed;
}

namespace {

// Milliseconds for poll, rounded up so a wait never ends before its deadline.
int timeoutUntil(RunLoop::Clock::time_point deadline) {
  if (deadline == RunLoop::Clock::time_point::max()) return -1;
  auto left = deadline - RunLoop::Clock::now();
  if (left <= RunLoop::Clock::duration::zero()) return 0;
  auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

}  // namespace

bool RunLoop::Impl::waitForWork(Clock::time_point deadline) {
  std::vector<pollfd> fds;
  std::vector<std::shared_ptr<RunLoopSource::State>> watched;
  for (;;) {
    clearWake();
    {
      std::lock_guard lock(mutex);
      if (stopRequested) {
        stopRequested = false;
        return false;
      }
      if (sources.empty()) return false;
      if (anyPending()) return true;
      fds.assign(1, pollfd{wakeFd.get(), POLLIN, 0});
      watched.clear();
      for (const auto& s : sources) {
        if (s->descriptor < 0 || s->descriptorGone) continue;
        std::lock_guard sourceLock(s->mutex);
        if (!s->valid) continue;
        fds.push_back(pollfd{s->descriptor, POLLIN, 0});
        watched.push_back(s);
      }
    }
    // A deadline already past still looks once, without waiting: runOnce(now) performs what
    // is ready now.
    int timeout = timeoutUntil(deadline);
    // Without an eventfd (descriptors exhausted) other threads' signals are seen at the next
    // look; keep those looks short rather than miss them until the deadline.
    if (!wakeFd && (timeout < 0 || timeout > 10)) timeout = 10;
    if (posix::poll(fds.data(), fds.size(), timeout) < 0) return false;
    bool ready = false;
    for (size_t i = 1; i < fds.size(); ++i) {
      if (fds[i].revents & POLLNVAL) {
        watched[i - 1]->descriptorGone = true;
      } else if (fds[i].revents != 0) {
        watched[i - 1]->pending = true;
        ready = true;
      }
    }
    if (ready) return true;
    if (timeout == 0) return false;
  }
}

RunLoop& RunLoop::current() {
  thread_local RunLoop loop;
  return loop;
}

RunLoop::RunLoop() : impl_(std::make_shared<Impl>()) {}

RunLoop::~RunLoop() {
  std::vector<std::shared_ptr<RunLoopSource::State>> sources;
  {
    std::lock_guard lock(impl_->mutex);
    sources = impl_->sources;
  }
  for (const auto& s : sources) RunLoopSource::State::detach(s);
}

void RunLoop::addSource(const std::shared_ptr<RunLoopSource>& source) {
  if (!source) return;
  const auto& state = source->state_;
  {
    std::lock_guard lock(state->mutex);
    if (state->loopId == impl_.get()) return;
  }
  RunLoopSource::State::detach(state);  // a source belongs to one loop at a time
  {
    std::lock_guard lock(state->mutex);
    state->loop = impl_;
    state->loopId = impl_.get();
  }
  std::lock_guard lock(impl_->mutex);
  impl_->sources.push_back(state);
  impl_->wake();  // a source signalled before it was added is performed now
}

void RunLoop::removeSource(const std::shared_ptr<RunLoopSource>& source) {
  if (!source) return;
  {
    std::lock_guard lock(source->state_->mutex);
    if (source->state_->loopId != impl_.get()) return;
  }
  RunLoopSource::State::detach(source->state_);
}

void RunLoop::runUntil(Clock::time_point deadline) {
  Impl::Run running(*impl_);
  for (;;) {
    impl_->performPending();
    if (Clock::now() >= deadline) return;  // a source signalled without end cannot hold it
    if (!impl_->waitForWork(deadline)) return;
  }
}

bool RunLoop::runOnce(Clock::time_point deadline) {
  Impl::Run running(*impl_);
  for (;;) {
    if (impl_->performPending()) return true;
    if (!impl_->waitForWork(deadline)) return false;
  }
}

void RunLoop::stop() {
  std::lock_guard lock(impl_->mutex);
  impl_->stopRequested = true;
  impl_->wake();
}

size_t RunLoop::sourceCount() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->sources.size();
}

// ---- ScopedRunLoopSource ----

ScopedRunLoopSource::ScopedRunLoopSource(RunLoop& loop, std::shared_ptr<RunLoopSource> source)
    : loop_(&loop), source_(std::move(source)) {
  loop_->addSource(source_);
}

ScopedRunLoopSource::~ScopedRunLoopSource() { reset(); }

ScopedRunLoopSource::ScopedRunLoopSource(ScopedRunLoopSource&& other) noexcept
    : loop_(std::exchange(other.loop_, nullptr)), source_(std::move(other.source_)) {}

ScopedRunLoopSource& ScopedRunLoopSource::operator=(ScopedRunLoopSource&& other) noexcept {
  if (this != &other) {
    reset();
    loop_ = std::exchange(other.loop_, nullptr);
    source_ = std::move(other.source_);
  }
  return *this;
}

void ScopedRunLoopSource::reset() {
  if (loop_ && source_) loop_->removeSource(source_);
  loop_ = nullptr;
  source_.reset();
}

}  // namespace xr

#include "platform/RunLoop.h"

#include "platform/CallbackGate.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace xr {

struct RunLoop::Impl {
  std::mutex mutex;
  std::condition_variable wake;
  std::vector<std::shared_ptr<RunLoopSource::State>> sources;  // in the order added
  bool stopRequested = false;

  bool anyPending() const;
  bool performPending();
  // Waits, the mutex held, until a source is pending, stop() is called, the loop has no
  // sources or the deadline passes. False when the run should end.
  bool waitForWork(std::unique_lock<std::mutex>& lock, Clock::time_point deadline);
};

struct RunLoopSource::State {
  explicit State(std::function<void()> p) : perform(std::move(p)) {}
  const std::function<void()> perform;
  // Set by signal, cleared when performed; read by the loop under its own mutex.
  std::atomic<bool> pending{false};

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
    loop->wake.notify_all();
  }
}

// ---- RunLoopSource ----

RunLoopSource::RunLoopSource(std::function<void()> perform)
    : state_(std::make_shared<State>(std::move(perform))) {}

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
  if (!loop) return;  // performed once it is added to a loop
  // Taking the loop's mutex orders this wake-up after a waiter's check of the pending flags.
  std::lock_guard lock(loop->mutex);
  loop->wake.notify_all();
}

void RunLoopSource::invalidate() {
  std::unique_lock lock(state_->mutex);
  state_->valid = false;
  state_->pending = false;
  state_->waitIdle(lock);
}

bool RunLoopSource::isValid() const {
  std::lock_guard lock(state_->mutex);
  return state_->valid;
}

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

bool RunLoop::Impl::waitForWork(std::unique_lock<std::mutex>& lock, Clock::time_point deadline) {
  wake.wait_until(lock, deadline, [&] { return stopRequested || sources.empty() || anyPending(); });
  if (stopRequested) {
    stopRequested = false;
    return false;
  }
  return !sources.empty() && (anyPending() || Clock::now() < deadline);
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
  impl_->wake.notify_all();  // a source signalled before it was added is performed now
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
  for (;;) {
    impl_->performPending();
    if (Clock::now() >= deadline) return;  // a source signalled without end cannot hold it
    std::unique_lock lock(impl_->mutex);
    if (!impl_->waitForWork(lock, deadline)) return;
  }
}

bool RunLoop::runOnce(Clock::time_point deadline) {
  for (;;) {
    if (impl_->performPending()) return true;
    std::unique_lock lock(impl_->mutex);
    if (!impl_->waitForWork(lock, deadline)) return false;
  }
}

void RunLoop::stop() {
  std::lock_guard lock(impl_->mutex);
  impl_->stopRequested = true;
  impl_->wake.notify_all();
}

size_t RunLoop::sourceCount() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->sources.size();
}

}  // namespace xr

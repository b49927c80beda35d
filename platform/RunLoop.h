#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace xr {

class RunLoop;

// Work that wakes a run loop. Any thread may signal it; perform runs on the thread of the run
// loop it was added to, and only while that loop runs.
//
// A source may also watch a descriptor: the loop waits on it with its other sources and
// performs the source while the descriptor is readable (or has hung up). perform must read
// what is there, or the loop performs it again at once. The descriptor stays its owner's; the
// owner takes the source out of every loop (ScopedRunLoopSource, invalidate or destruction)
// before closing it.
class RunLoopSource : public std::enable_shared_from_this<RunLoopSource> {
 public:
  explicit RunLoopSource(std::function<void()> perform);
  RunLoopSource(int descriptor, std::function<void()> perform);
  ~RunLoopSource();
  RunLoopSource(const RunLoopSource&) = delete;
  RunLoopSource& operator=(const RunLoopSource&) = delete;

  // Marks the source pending and wakes its run loop.
  void signal();
  // No perform after this returns (unless it is called from within perform); the loop stops
  // waiting on the descriptor.
  void invalidate();
  bool isValid() const;
  // -1 when the source watches none.
  int descriptor() const;

 private:
  friend class RunLoop;
  struct State;
  std::shared_ptr<State> state_;
};

// One run loop per thread. Nothing runs it behind its owner's back: sources added to it are
// performed only inside runUntil / runOnce on its thread. There is one mode, the default one.
// A waiting loop sleeps in poll(2) on its own eventfd and its sources' descriptors: no thread,
// no polling interval.
class RunLoop {
 public:
  using Clock = std::chrono::steady_clock;

  // The calling thread's own loop.
  static RunLoop& current();

  void addSource(const std::shared_ptr<RunLoopSource>& source);
  void removeSource(const std::shared_ptr<RunLoopSource>& source);

  // Performs pending sources as they are signalled until the deadline passes or stop() is
  // called. Returns at once when the loop has no sources. Signals coalesce: a source signalled
  // several times before the loop gets to it is performed once.
  void runUntil(Clock::time_point deadline);
  // Waits until at least one source is performed or the deadline passes; true when a source
  // was performed. With a deadline already past it performs what is ready now, without waiting.
  bool runOnce(Clock::time_point deadline);
  // Makes a running runUntil / runOnce return; callable from any thread. A stop that comes
  // while the loop is not running ends its next run at once, so it cannot be lost in a race.
  void stop();

  size_t sourceCount() const;

  RunLoop();
  ~RunLoop();
  RunLoop(const RunLoop&) = delete;
  RunLoop& operator=(const RunLoop&) = delete;

 private:
  friend class RunLoopSource;
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

// Keeps a source in a run loop for one scope; leaving the scope, on any path, takes it out.
class ScopedRunLoopSource {
 public:
  ScopedRunLoopSource() = default;
  ScopedRunLoopSource(RunLoop& loop, std::shared_ptr<RunLoopSource> source);
  ~ScopedRunLoopSource();
  ScopedRunLoopSource(ScopedRunLoopSource&& other) noexcept;
  ScopedRunLoopSource& operator=(ScopedRunLoopSource&& other) noexcept;
  ScopedRunLoopSource(const ScopedRunLoopSource&) = delete;
  ScopedRunLoopSource& operator=(const ScopedRunLoopSource&) = delete;

  const std::shared_ptr<RunLoopSource>& source() const { return source_; }
  void reset();

 private:
  RunLoop* loop_ = nullptr;
  std::shared_ptr<RunLoopSource> source_;
};

}  // namespace xr

#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "platform/Posix.h"
#include "platform/RunLoop.h"

namespace xr {

// Turns signals (SIGINT, SIGTERM) into a run-loop source while it lives: the handler writes
// the signal number to a pipe the source waits on, so a program waiting in its run loop ends
// cleanly from there. While a Busy scope is open (work that a signal interrupts, such as a
// report in progress) a signal goes where it went before: the handler that was installed, or
// the default action. A signal ignored when it is made stays ignored. Any thread may take the
// signal. One SignalSource at a time in a process;
// destroying it puts the previous actions back.
class SignalSource {
 public:
  // nullptr when another SignalSource exists or the pipe or a handler cannot be set up.
  static std::unique_ptr<SignalSource> create(std::vector<int> signals, std::function<void(int)> received);
  ~SignalSource();
  SignalSource(const SignalSource&) = delete;
  SignalSource& operator=(const SignalSource&) = delete;

  // Performs received(signal) for each signal taken, in the loop it is added to.
  const std::shared_ptr<RunLoopSource>& source() const { return source_; }

  class Busy {
   public:
    Busy();
    ~Busy();
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;
  };

 private:
  struct Key {};

 public:
  SignalSource(Key, std::vector<int> signals, FileDescriptor readEnd, FileDescriptor writeEnd,
               std::function<void(int)> received);

 private:
  bool install();
  void drain();

  std::vector<int> signals_;
  std::vector<int> installed_;
  FileDescriptor readEnd_, writeEnd_;
  std::function<void(int)> received_;
  std::shared_ptr<RunLoopSource> source_;
};

}  // namespace xr

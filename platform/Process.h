#pragma once

#include <sys/types.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Posix.h"

namespace xr {

// One launched tool (posix_spawn). Its standard output and standard error are one pipe, whose
// reading end the Process owns; its standard input is /dev/null; the child inherits no other
// descriptor of ours, with or without close-on-exec. A Process that is destroyed while its
// child runs kills and reaps it: no zombie outlives its owner.
// wait, poll, terminate and running may be called from different threads.
class Process {
 public:
  struct Termination {
    bool exited = false;  // false: killed by a signal
    int status = -1;      // exit status when exited, else the signal number
    bool success() const { return exited && status == 0; }
  };
  struct Result {
    Termination termination;
    std::string output;  // stdout and stderr, in the order written
  };

  // path is used as given (callers resolve fixed paths under the platform root); args do not
  // include the program name. nullptr and a message when the tool cannot be started.
  static std::unique_ptr<Process> launch(const std::string& path, const std::vector<std::string>& args,
                                         std::string* error = nullptr);
  // launch, then collect. nullopt when it could not be launched.
  static std::optional<Result> run(const std::string& path, const std::vector<std::string>& args,
                                   std::string* error = nullptr);

  struct LaunchKey {
    explicit LaunchKey() = default;
  };
  // Made by launch only.
  Process(LaunchKey, pid_t pid, FileDescriptor output, FileDescriptor exitWatch)
      : pid_(pid), output_(std::move(output)), exitWatch_(std::move(exitWatch)) {}
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  pid_t pid() const { return pid_; }
  // Reading end of the output pipe (blocking, close-on-exec); -1 once taken or closed.
  int outputDescriptor() const { return output_.get(); }
  // Hands the reading end to the caller.
  FileDescriptor takeOutput() { return std::move(output_); }

  // Reads the output while the tool runs, then waits for it. Reading ends at the end of data,
  // or once the tool has exited and what it left in the pipe is read: a background process
  // that inherited the pipe cannot hold the caller.
  Result collect();
  // Waits for the tool to end (reaps it). Idempotent.
  Termination wait();
  // Non-blocking: the termination when the tool has ended (and reaps it), else nullopt.
  std::optional<Termination> poll();
  // Asks the tool to end (SIGTERM); does not wait. Nothing once it has been reaped.
  void terminate();
  // Ends the tool at once (SIGKILL); does not wait. Nothing once it has been reaped.
  void kill();
  bool running() const;

 private:
  void signal(int sig);
  void reapLocked();

  const pid_t pid_;
  FileDescriptor output_;
  FileDescriptor exitWatch_;  // pidfd: readable once the child has exited; may be invalid
  mutable std::mutex mutex_;  // guards reaped_ and termination_: the pid is ours until reaped
  bool reaped_ = false;
  Termination termination_;
};

}  // namespace xr

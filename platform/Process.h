#pragma once

#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Posix.h"

namespace xr {

// One launched tool (posix_spawn). Its standard output and standard error are one pipe, whose
// reading end the Process owns; the child inherits no other descriptor of ours. A Process that
// is destroyed while its child runs kills and reaps it: no zombie outlives its owner.
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

  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  pid_t pid() const { return pid_; }
  // Reading end of the output pipe (blocking, close-on-exec); -1 once taken or closed.
  int outputDescriptor() const { return output_.get(); }
  // Hands the reading end to the caller.
  FileDescriptor takeOutput() { return std::move(output_); }

  // Reads the output to its end while the tool runs, then waits for it.
  Result collect();
  // Waits for the tool to end (reaps it). Idempotent.
  Termination wait();
  // Non-blocking: the termination when the tool has ended (and reaps it), else nullopt.
  std::optional<Termination> poll();
  // Asks the tool to end (SIGTERM); does not wait.
  void terminate();
  bool running() const { return !reaped_; }

 private:
  Process(pid_t pid, FileDescriptor output) : pid_(pid), output_(std::move(output)) {}
  pid_t pid_;
  FileDescriptor output_;
  bool reaped_ = false;
  Termination termination_;
};

}  // namespace xr

#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Posix.h"
#include "platform/SignalCleanup.h"

namespace xr {

// What one run of a tool may spend (Process::collect).
struct ProcessLimits {
  std::chrono::milliseconds timeLimit{10000};
  size_t maxOutput = 1024 * 1024;
};

// How a tool is started. The defaults are what the report's tools get; tests that run our own
// programs need the caller's environment (sanitizer settings) and standard error apart.
struct LaunchOptions {
  bool inheritEnvironment = false;       // this process's environment instead of the fixed one
  std::vector<std::string> environment;  // NAME=value entries added, replacing any of that name
  bool separateErrors = false;           // standard error on a pipe of its own (takeErrors)
};

// One launched tool. Its standard output and standard error are one pipe, whose reading end
// the Process owns; its standard input is /dev/null; the child inherits no other descriptor
// of ours, with or without close-on-exec, and none of our environment: it gets PATH and
// LC_ALL=C only. It leads a process group of its own, which is killed when the tool has ended
// (so nothing it left running in the background outlives its run) and when this process is
// ended by a signal (SignalCleanup); the kernel kills the tool itself should the launching
// thread die first. Its exit status is right even while the host ignores SIGCHLD.
// A Process that is destroyed while its child runs kills and reaps it.
// wait, poll, terminate and running may be called from different threads.
class Process {
 public:
  struct Termination {
    bool exited = false;  // false: killed by a signal
    int status = -1;      // exit status when exited, else the signal number
    bool success() const { return exited && status == 0; }
  };
  using Limits = ProcessLimits;
  struct Result {
    Termination termination;
    std::string output;           // stdout and stderr, in the order written
    bool timedOut = false;        // killed at its time limit
    bool outputTooLarge = false;  // killed past maxOutput; output holds what was kept
    bool success() const { return !timedOut && !outputTooLarge && termination.success(); }
  };

  static constexpr const char* kToolPath = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";

  // path is used as given (callers resolve fixed paths under the platform root); args do not
  // include the program name. nullptr and a message when the tool cannot be started.
  static std::unique_ptr<Process> launch(const std::string& path, const std::vector<std::string>& args,
                                         std::string* error = nullptr) {
    return launch(path, args, LaunchOptions{}, error);
  }
  static std::unique_ptr<Process> launch(const std::string& path, const std::vector<std::string>& args,
                                         const LaunchOptions& options, std::string* error = nullptr);
  // launch, then collect. nullopt when it could not be launched.
  static std::optional<Result> run(const std::string& path, const std::vector<std::string>& args,
                                   const Limits& limits = {}, std::string* error = nullptr);

  struct LaunchKey {
    explicit LaunchKey() = default;
  };
  // Made by launch only.
  Process(LaunchKey, pid_t pid, FileDescriptor output, FileDescriptor exitWatch)
      : pid_(pid),
        output_(std::move(output)),
        exitWatch_(std::move(exitWatch)),
        groupCleanup_(SignalCleanup::addProcessGroup(pid)) {}
  // A tool served in process (ScopedInProcessTool): already ended, its output to be read.
  Process(LaunchKey, FileDescriptor output, Termination ended)
      : pid_(0), output_(std::move(output)), reaped_(true), termination_(ended) {}
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // 0 for a tool served in process.
  pid_t pid() const { return pid_; }
  // Reading end of the output pipe (blocking, close-on-exec); -1 once taken or closed.
  int outputDescriptor() const { return output_.get(); }
  // Hands the reading end to the caller.
  FileDescriptor takeOutput() { return std::move(output_); }
  // Reading end of standard error's own pipe (LaunchOptions::separateErrors), for the caller
  // to read beside the output: collect does not.
  FileDescriptor takeErrors() { return std::move(errors_); }

  // Reads the output while the tool runs, then waits for it. Reading ends at the end of data,
  // or once the tool has exited and what it left in the pipe is read: a background process
  // that inherited the pipe cannot hold the caller. Past the time limit or the output limit
  // the tool's group is killed.
  // calls: the system calls the reading makes.
  Result collect(const Limits& limits = {}, const PosixCalls& calls = PosixCalls::system());
  // Waits for the tool to end, kills what is left of its group and reaps it. Idempotent.
  Termination wait();
  // Non-blocking: the termination when the tool has ended (and reaps it), else nullopt.
  std::optional<Termination> poll();
  // Waits up to timeout for the tool to end; true when it has (it is then reaped).
  bool waitFor(std::chrono::milliseconds timeout);
  // Asks the tool to end (SIGTERM); does not wait. Nothing once it has been reaped.
  void terminate();
  // Ends the tool and its group at once (SIGKILL); does not wait. Nothing once reaped.
  void kill();
  bool running() const;

 private:
  void signal(int sig);
  void reapLocked();
  bool waitForExit(int timeoutMs);

  const pid_t pid_;
  FileDescriptor output_;
  FileDescriptor errors_;
  FileDescriptor exitWatch_;  // pidfd: readable once the child has exited; may be invalid; kept to the end
  mutable std::mutex mutex_;  // guards reaped_, termination_, groupCleanup_: the pid is ours until reaped
  bool reaped_ = false;
  Termination termination_;
  CleanupEntry groupCleanup_;
  FileDescriptor statusPipe_;  // only while the host ignores SIGCHLD: the wrapping shell's report
};

// For one scope, launching the program at path (as given to Process::launch, with the default
// LaunchOptions) runs tool on the launching thread instead: a Process that has already ended
// with tool's exit status, its output in place of the pipe. For a program of our own whose
// work is a short read of the system, so a report does not pay for a process launch. The
// previous one is put back.
class ScopedInProcessTool {
 public:
  // Returns the exit status; writes the tool's whole output (stdout and stderr).
  using Tool = std::function<int(const std::vector<std::string>& args, std::string* output)>;
  ScopedInProcessTool(std::string path, Tool tool);
  ~ScopedInProcessTool();
  ScopedInProcessTool(const ScopedInProcessTool&) = delete;
  ScopedInProcessTool& operator=(const ScopedInProcessTool&) = delete;

  // Whether a launch of path as the report makes it runs in process now.
  static bool serves(const std::string& path);

 private:
  std::string path_;
  std::shared_ptr<const Tool> saved_;
};

}  // namespace xr

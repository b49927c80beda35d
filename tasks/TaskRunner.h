#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/Process.h"
#include "tasks/TaskRunnerClient.h"

namespace xr {

// One run of one tool whose standard output and standard error share one pipe. The client is
// not owned: it must outlive the runner (callers make the runner, use it and drop it).
class TaskRunner {
 public:
  // launchPath is the tool's full path, used as given; arguments exclude the tool's name.
  TaskRunner(TaskRunnerClient* client, std::string launchPath, std::vector<std::string> arguments);
  virtual ~TaskRunner();
  TaskRunner(const TaskRunner&) = delete;
  TaskRunner& operator=(const TaskRunner&) = delete;

  // Subclasses override both and call these first.
  virtual void stopTask() {}
  virtual void startTask() {}

  // Reading end of the output pipe; -1 before the launch and once the output is done.
  int file() const { return _task ? _task->outputDescriptor() : -1; }
  // The launched process; nullptr before startTask or when the tool could not be launched.
  const Process* task() const { return _task.get(); }
  const std::string& launchPath() const { return _launchPath; }
  const std::vector<std::string>& arguments() const { return _arguments; }
  void setArguments(std::vector<std::string> arguments) { _arguments = std::move(arguments); }
  TaskRunnerClient* client() const { return _client; }
  void setClient(TaskRunnerClient* client) { _client = client; }
  // The time and output one run may take; past either the tool is killed and the run fails.
  const Process::Limits& limits() const { return _limits; }
  void setLimits(const Process::Limits& limits) { _limits = limits; }

  // What new runners start with: 10 s and 1 MiB (drvxstat and lsof take milliseconds and a
  // few lines). Process-wide, so tests can shorten it for runners the plug-in makes.
  static Process::Limits defaultLimits();
  static void setDefaultLimits(const Process::Limits& limits);

 protected:
  // Launches the tool; false when it cannot be started (traced).
  bool launch();
  // Traces why a run failed: its exit status, its signal, its limits.
  void traceFailure(const Process::Result& result) const;

  std::unique_ptr<Process> _task;
  TaskRunnerClient* _client;
  std::string _launchPath;
  std::vector<std::string> _arguments;
  Process::Limits _limits = defaultLimits();
};

}  // namespace xr

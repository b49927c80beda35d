#pragma once

#include <optional>
#include <string>

#include "tasks/TaskRunner.h"

namespace xr {

// Runs the tool to its end on the calling thread and keeps its whole output.
class SynchronousTaskRunner : public TaskRunner {
 public:
  using TaskRunner::TaskRunner;

  // After startTask: stdout and stderr as written, "" when the tool did not exit with status 0
  // within its limits (or could not be launched), nullopt when the output is not UTF-8.
  const std::optional<std::string>& output() const { return _output; }
  void setOutput(std::optional<std::string> output) { _output = std::move(output); }

  // Sends taskStarted, then runs the tool and returns when it has exited.
  void startTask() override;
  // startTask in two halves, for a caller with other work to do while the tool runs:
  // launchTask sends taskStarted and launches the tool, finishTask (once) waits for its end.
  void launchTask();
  void finishTask();

 private:
  std::optional<std::string> _output;
};

}  // namespace xr

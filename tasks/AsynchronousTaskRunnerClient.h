#pragma once

#include <optional>
#include <string>

#include "tasks/TaskRunnerClient.h"

namespace xr {

// The client of an asynchronous runner also takes the output as it comes and the tool's end.
class AsynchronousTaskRunnerClient : public TaskRunnerClient {
 public:
  // One non-empty piece of output; nullopt when the piece is not UTF-8.
  virtual void taskOutput(const std::optional<std::string>& output) = 0;
  // The tool's process has terminated (before or after its last output).
  virtual void taskEnded() = 0;
};

}  // namespace xr

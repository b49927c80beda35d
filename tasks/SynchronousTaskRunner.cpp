#include "tasks/SynchronousTaskRunner.h"

#include "tasks/Utf8.h"

namespace xr {

void SynchronousTaskRunner::startTask() {
  launchTask();
  finishTask();
}

void SynchronousTaskRunner::launchTask() {
  TaskRunner::startTask();
  if (_client) _client->taskStarted();
  setOutput("");
  launch();
}

void SynchronousTaskRunner::finishTask() {
  if (!_task) return;
  Process::Result result = _task->collect(_limits);
  traceFailure(result);
  if (!result.success()) return;
  if (isValidUtf8(result.output)) {
    setOutput(std::move(result.output));
  } else {
    setOutput(std::nullopt);
  }
}

}  // namespace xr

#include "tasks/TaskRunner.h"

#include <mutex>

#include "platform/Trace.h"

namespace xr {
namespace {
std::mutex gLimitsMutex;
Process::Limits gDefaultLimits;
}  // namespace

Process::Limits TaskRunner::defaultLimits() {
  std::lock_guard lock(gLimitsMutex);
  return gDefaultLimits;
}

void TaskRunner::setDefaultLimits(const Process::Limits& limits) {
  std::lock_guard lock(gLimitsMutex);
  gDefaultLimits = limits;
}

TaskRunner::TaskRunner(TaskRunnerClient* client, std::string launchPath, std::vector<std::string> arguments)
    : _client(client), _launchPath(std::move(launchPath)), _arguments(std::move(arguments)) {}

TaskRunner::~TaskRunner() = default;

bool TaskRunner::launch() {
  std::string error;
  _task = Process::launch(_launchPath, _arguments, &error);
  if (!_task && traceEnabled()) {
    if (error.starts_with(_launchPath + ": ")) error.erase(0, _launchPath.size() + 2);
    traceNote("tool ", _launchPath, ": cannot be started: ", error);
  }
  return _task != nullptr;
}

void TaskRunner::traceFailure(const Process::Result& result) const {
  if (!traceEnabled() || result.success()) return;
  std::string why;
  if (result.timedOut) {
    why = "killed at its deadline (" + std::to_string(_limits.timeLimit.count()) + " ms)";
  } else if (result.outputTooLarge) {
    why = "killed: output over " + std::to_string(_limits.maxOutput) + " bytes";
  } else if (result.termination.exited) {
    why = "exit status " + std::to_string(result.termination.status);
  } else {
    why = "killed by signal " + std::to_string(result.termination.status);
  }
  traceNote("tool ", _launchPath, ": ", why);
}

}  // namespace xr

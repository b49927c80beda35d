#include "tasks/TaskRunner.h"

namespace xr {

TaskRunner::TaskRunner(TaskRunnerClient* client, std::string launchPath, std::vector<std::string> arguments)
    : _client(client), _launchPath(std::move(launchPath)), _arguments(std::move(arguments)) {}

TaskRunner::~TaskRunner() = default;

bool TaskRunner::launch() {
  _task = Process::launch(_launchPath, _arguments);
  return _task != nullptr;
}

}  // namespace xr

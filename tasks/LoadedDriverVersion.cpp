#include "tasks/LoadedDriverVersion.h"

#include "platform/PlatformRoot.h"
#include "platform/Trace.h"
#include "tasks/SynchronousTaskRunner.h"

namespace xr {

namespace {
const char kDrvxStat[] = "/usr/sbin/drvxstat";
}  // namespace

std::optional<std::optional<std::string>> loadedDriverVersion(const std::string& bundleID, TaskRunnerClient* client) {
  const std::string tool = resolvePath(kDrvxStat);
  if (!fileExistsAtPath(tool)) {
    traceNote("tool ", tool, ": missing");
    return std::nullopt;
  }
  SynchronousTaskRunner runner(client, tool, {"-l", "-b" + bundleID});
  runner.startTask();
  return driverVersionFromDrvxStatOutput(runner.output());
}

std::optional<std::string> driverVersionFromDrvxStatOutput(const std::optional<std::string>& output) {
  if (!output || output->empty()) return std::nullopt;
  size_t open = output->find('(');
  size_t close = output->find(')');
  if (open == std::string::npos || close == std::string::npos || close < open) return std::nullopt;
  return output->substr(open + 1, close - open - 1);
}

}  // namespace xr

#include "tasks/LoadedDriverVersion.h"

#include "platform/PlatformRoot.h"
#include "platform/Process.h"
#include "platform/Trace.h"
#include "tasks/SynchronousTaskRunner.h"

namespace xr {

namespace {
const char kDrvxStat[] = "/usr/sbin/drvxstat";

// The driver-listing tool under the platform root; none when it is missing, which a lookup
// notes in the trace.
std::optional<std::string> driverListingTool(bool noteMissing = true) {
  std::string tool = resolvePath(kDrvxStat);
  if (fileExistsAtPath(tool)) return tool;
  if (noteMissing) traceNote("tool ", tool, ": missing");
  return std::nullopt;
}
}  // namespace

std::optional<std::optional<std::string>> loadedDriverVersion(const std::string& bundleID, TaskRunnerClient* client) {
  const std::optional<std::string> tool = driverListingTool();
  if (!tool) return std::nullopt;
  SynchronousTaskRunner runner(client, *tool, {"-l", "-b" + bundleID});
  runner.startTask();
  return driverVersionFromDrvxStatOutput(runner.output());
}

bool driverListingIsLaunched() {
  const std::optional<std::string> tool = driverListingTool(false);
  return tool && !ScopedInProcessTool::serves(*tool);
}

LoadedDriverVersions::LoadedDriverVersions(std::vector<std::string> bundleIDs, TaskRunnerClient* client)
    : bundleIDs_(std::move(bundleIDs)) {
  const std::optional<std::string> tool = driverListingTool();
  if (!tool) {
    toolMissing_ = true;
    return;
  }
  if (bundleIDs_.empty()) return;
  std::vector<std::string> arguments{"-l"};
  for (const std::string& id : bundleIDs_) arguments.push_back("-b" + id);
  runner_ = std::make_unique<SynchronousTaskRunner>(client, *tool, arguments);
  runner_->launchTask();
}

LoadedDriverVersions::~LoadedDriverVersions() = default;

std::optional<std::map<std::string, std::string>> LoadedDriverVersions::versions() {
  if (toolMissing_) return std::nullopt;
  std::map<std::string, std::string> versions;
  if (!runner_) return versions;
  runner_->finishTask();
  const std::optional<std::string> output = runner_->output();
  if (!output) return versions;
  // Each line: index, references, address, sizes, then "NAME (VERSION) <...>".
  size_t start = 0;
  while (start < output->size()) {
    size_t end = output->find('\n', start);
    if (end == std::string::npos) end = output->size();
    const std::string line = output->substr(start, end - start);
    start = end + 1;
    for (const std::string& id : bundleIDs_) {
      const size_t at = line.find(" " + id + " (");
      if (at == std::string::npos || versions.count(id)) continue;
      if (auto version = driverVersionFromDrvxStatOutput(line.substr(at)); version && !version->empty())
        versions.emplace(id, *version);
    }
  }
  return versions;
}

std::optional<std::string> driverVersionFromDrvxStatOutput(const std::optional<std::string>& output) {
  if (!output || output->empty()) return std::nullopt;
  size_t open = output->find('(');
  size_t close = output->find(')');
  if (open == std::string::npos || close == std::string::npos || close < open) return std::nullopt;
  return output->substr(open + 1, close - open - 1);
}

}  // namespace xr

#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tasks/TaskRunnerClient.h"

namespace xr {

// The loaded version of the driver with the bundle identifier, as the driver-listing tool
// (/usr/sbin/drvxstat under the platform root) gives it: the text between the first "(" and
// the first ")" of its output. The outer nullopt when the tool is not there; the inner one
// when its output holds no such text.
std::optional<std::optional<std::string>> loadedDriverVersion(const std::string& bundleID, TaskRunnerClient* client);

// Whether a driver listing is a process of its own, one a caller can do other work beside: the
// tool is there and is not served in process (as this machine's is).
bool driverListingIsLaunched();

class SynchronousTaskRunner;

// The loaded versions of several drivers from one run of the tool (one -b per identifier).
// The tool is launched when this is made, so the caller can do other work while it runs.
// client may be null: nothing is told.
class LoadedDriverVersions {
 public:
  LoadedDriverVersions(std::vector<std::string> bundleIDs, TaskRunnerClient* client);
  ~LoadedDriverVersions();
  LoadedDriverVersions(const LoadedDriverVersions&) = delete;
  LoadedDriverVersions& operator=(const LoadedDriverVersions&) = delete;

  // Waits for the tool (once): each identifier whose line holds a version, mapped to it.
  // nullopt when the tool is not there.
  std::optional<std::map<std::string, std::string>> versions();

 private:
  std::vector<std::string> bundleIDs_;
  bool toolMissing_ = false;
  std::unique_ptr<SynchronousTaskRunner> runner_;  // nullptr: no tool, or nothing to ask
};

// The text in the first parentheses of the tool's output; nullopt when either is missing or
// the ")" comes first.
std::optional<std::string> driverVersionFromDrvxStatOutput(const std::optional<std::string>& output);

}  // namespace xr

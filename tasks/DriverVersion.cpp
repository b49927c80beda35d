// The loaded driver's version, from the driver-listing tool.
#include "platform/PlatformRoot.h"
#include "reporter/XRModemPlugin.h"
#include "tasks/SynchronousTaskRunner.h"

namespace xr {

namespace {
const char kDrvxStat[] = "/usr/sbin/drvxstat";

// The output of the tool for one bundle identifier, nullopt when the tool is not there.
std::optional<std::optional<std::string>> runDrvxStat(XRModemPlugin* plugin, const std::string& bundleID) {
  if (!plugin->fileExists(kDrvxStat)) return std::nullopt;
  SynchronousTaskRunner runner(plugin, resolvePath(kDrvxStat), {"-l", "-b" + bundleID});
  runner.startTask();
  return runner.output();
}

// The text between the first "(" and the first ")"; nullopt when either is missing or the
// ")" comes first.
std::optional<std::string> textInFirstParentheses(const std::optional<std::string>& output) {
  if (!output || output->empty()) return std::nullopt;
  size_t open = output->find('(');
  size_t close = output->find(')');
  if (open == std::string::npos || close == std::string::npos || close < open) return std::nullopt;
  return output->substr(open + 1, close - open - 1);
}
}  // namespace

void XRModemPlugin::getLoadedDrvxVersionForDrvxWithBundleID(const std::string& bundleID) {
  if (auto output = runDrvxStat(this, bundleID)) retrieveLoadedDriverVersionFromDrvxStatOutput(*output);
}

std::optional<std::string> XRModemPlugin::getLoadedDrvxVersionForDrvxWithBundleID2(const std::string& bundleID) {
  auto output = runDrvxStat(this, bundleID);
  if (!output) return std::nullopt;
  return retrieveLoadedDriverVersionFromDrvxStatOutput2(*output);
}

void XRModemPlugin::retrieveLoadedDriverVersionFromDrvxStatOutput(const std::optional<std::string>& output) {
  auto version = textInFirstParentheses(output);
  if (version && !version->empty()) setObject(*version, "Driver Version");
}

std::optional<std::string> XRModemPlugin::retrieveLoadedDriverVersionFromDrvxStatOutput2(
    const std::optional<std::string>& output) {
  return textInFirstParentheses(output);
}

}  // namespace xr

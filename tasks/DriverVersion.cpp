// The loaded driver's version, from the driver-listing tool.
#include "reporter/XRModemPlugin.h"
#include "tasks/LoadedDriverVersion.h"

namespace xr {

void XRModemPlugin::getLoadedDrvxVersionForDrvxWithBundleID(const std::string& bundleID) {
  auto version = loadedDriverVersion(bundleID, this);
  if (version && *version && !(*version)->empty()) setObject(**version, "Driver Version");
}

std::optional<std::string> XRModemPlugin::getLoadedDrvxVersionForDrvxWithBundleID2(const std::string& bundleID) {
  return loadedDriverVersion(bundleID, this).value_or(std::nullopt);
}

void XRModemPlugin::retrieveLoadedDriverVersionFromDrvxStatOutput(const std::optional<std::string>& output) {
  auto version = driverVersionFromDrvxStatOutput(output);
  if (version && !version->empty()) setObject(*version, "Driver Version");
}

std::optional<std::string> XRModemPlugin::retrieveLoadedDriverVersionFromDrvxStatOutput2(
    const std::optional<std::string>& output) {
  return driverVersionFromDrvxStatOutput(output);
}

}  // namespace xr

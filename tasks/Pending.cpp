// Placeholders for the tool lookups until they land; this file goes then.
#include "reporter/XRModemPlugin.h"

namespace xr {
void XRModemPlugin::getLoadedDrvxVersionForDrvxWithBundleID(const std::string&) {}
std::optional<std::string> XRModemPlugin::getLoadedDrvxVersionForDrvxWithBundleID2(const std::string&) {
  return std::nullopt;
}
void XRModemPlugin::retrieveLoadedDriverVersionFromDrvxStatOutput(const std::optional<std::string>&) {}
std::optional<std::string> XRModemPlugin::retrieveLoadedDriverVersionFromDrvxStatOutput2(
    const std::optional<std::string>&) {
  return std::nullopt;
}
void XRModemPlugin::checkIfModemInUseTask() {}
void XRModemPlugin::retrieveProcessesUsingModemOutput(const std::optional<std::string>&) {}
}  // namespace xr

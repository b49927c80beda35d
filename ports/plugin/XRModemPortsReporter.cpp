#include "ports/XRModemPortsReporter.h"

#include "platform/BlockedSignals.h"
#include "ports/XRModemPortsPlugin.h"

#include <system_error>

namespace xr {

XRModemPortsReporter::XRModemPortsReporter() {
  try {
    const BlockedSignals blocked = BlockedSignals::termination();
    early_ = std::async(std::launch::async, &XRModemPortsPlugin::earlyPass);
  } catch (const std::system_error&) {
    // No thread: the report makes its pass itself.
  }
}

DictionaryRef XRModemPortsReporter::updateDictionary(const DictionaryRef& dictionary) {
  XRModemPortsPlugin::Options options;
  options.probe = dictionary && dictionary->get("_probe").boolean().value_or(false);
  DictionaryRef report = XRReporter::updateDictionary(dictionary);
  XRModemPortsPlugin plugin(nullptr, options);
  for (const DictionaryRef& item : plugin.portItems(&early_)) appendItem(report, item);
  return report;
}

}  // namespace xr

XR_PLUGIN_EXPORT_PRINCIPAL_REPORTER(xr::XRModemPortsReporter, XR_VERSION)

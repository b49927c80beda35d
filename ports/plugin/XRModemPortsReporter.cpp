#include "ports/XRModemPortsReporter.h"

#include "ports/XRModemPortsPlugin.h"

namespace xr {

XRModemPortsReporter::XRModemPortsReporter() : early_(XRModemPortsPlugin::EarlyPass::begin()) {}

DictionaryRef XRModemPortsReporter::updateDictionary(const DictionaryRef& dictionary) {
  XRModemPortsPlugin::Options options;
  options.probe = dictionary && dictionary->get("_probe").boolean().value_or(false);
  DictionaryRef report = XRReporter::updateDictionary(dictionary);
  XRModemPortsPlugin plugin(nullptr, options);
  const std::unique_ptr<XRModemPortsPlugin::EarlyPass> early = std::move(early_);  // the first report's only
  for (const DictionaryRef& item : plugin.portItems(early.get())) appendItem(report, item);
  return report;
}

}  // namespace xr

XR_PLUGIN_EXPORT_PRINCIPAL_REPORTER(xr::XRModemPortsReporter, XR_VERSION)

#include "ports/XRModemPortsReporter.h"

#include <memory>

#include "ports/XRModemPortsPlugin.h"

namespace xr {

DictionaryRef XRModemPortsReporter::updateDictionary(const DictionaryRef& dictionary) {
  XRModemPortsPlugin::Options options;
  options.probe = dictionary && dictionary->get("_probe").boolean().value_or(false);
  DictionaryRef report = XRReporter::updateDictionary(dictionary);
  XRModemPortsPlugin plugin(nullptr, options);
  if (auto items = report->get("_items").array()) {
    for (const DictionaryRef& item : plugin.portItems()) {
      const Value entry(item);  // a copy, not a move: g++ 12 misreads moving the variant
      items->push_back(entry);
    }
  }
  return report;
}

}  // namespace xr

XR_PLUGIN_EXPORT_VERSIONS(XR_VERSION);

extern "C" __attribute__((visibility("default"))) xr::XRReporter* XRPluginCreatePrincipalReporter() {
  return std::make_unique<xr::XRModemPortsReporter>().release();
}

#include "reporter/XRModemReporter.h"

#include <memory>

#include "reporter/XRModemPlugin.h"

namespace xr {

DictionaryRef XRModemReporter::updateDictionary(const DictionaryRef& dictionary) {
  DictionaryRef report = XRReporter::updateDictionary(dictionary);
  DictionaryRef item;
  {
    auto plugin = XRModemPlugin::create();
    if (!plugin) return report;
    item = mutableCopy(plugin->getModemInfoDictionary());
  }  // The plug-in goes here: its teardown ends the USB discovery before the host sees the item.
  if (item && !item->empty()) {
    item->set("_name", "xrmodem_information");
    if (auto items = report->get("_items").array()) {
      const Value entry(item);  // a copy, not a move: g++ 12 misreads moving the variant
      items->push_back(entry);
    }
  }
  return report;
}

}  // namespace xr

XR_PLUGIN_EXPORT_VERSIONS(XR_VERSION);

extern "C" __attribute__((visibility("default"))) xr::XRReporter* XRPluginCreatePrincipalReporter() {
  return std::make_unique<xr::XRModemReporter>().release();
}

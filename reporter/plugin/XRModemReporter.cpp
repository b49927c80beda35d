#include "reporter/XRModemReporter.h"

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
    appendItem(report, item);
  }
  return report;
}

}  // namespace xr

XR_PLUGIN_EXPORT_PRINCIPAL_REPORTER(xr::XRModemReporter, XR_VERSION)

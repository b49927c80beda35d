// A plug-in bundle for the host's tests. It reports one item holding a value of every kind,
// the name of the bundle it was loaded from and the platform root it sees. HOSTTEST_MODE makes
// it report nothing ("no-items") or misbehave: "refuse" (no reporter), "no-report" (no
// dictionary), "throw".
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>

#include "host/XRReporter.h"
#include "platform/Bundle.h"
#include "platform/Json.h"
#include "platform/PlatformRoot.h"

namespace {

std::string mode() {
  const char* m = std::getenv("HOSTTEST_MODE");
  return m ? m : "";
}

void anchor() {}

class HostTestReporter : public xr::XRReporter {
 public:
  xr::DictionaryRef updateDictionary(const xr::DictionaryRef& dictionary) override {
    if (mode() == "no-report") return nullptr;
    if (mode() == "throw") throw std::runtime_error("test plug-in gave up");
    auto report = XRReporter::updateDictionary(dictionary);
    if (mode() == "no-items") return report;
    auto bundle = xr::Bundle::containingAddress(reinterpret_cast<const void*>(&anchor));
    // Its values are its bundle's Item.json, which the host's tests compare the report with,
    // but for the two it finds out.
    auto item = bundle ? xr::mutableCopy(xr::readJsonFile(bundle->path() + "/Item.json").value.dictionary()) : nullptr;
    if (!item) throw std::runtime_error("test plug-in without its Item.json");
    item->set("hosttest_bundle", bundle->path().substr(bundle->path().rfind('/') + 1));
    item->set("hosttest_root", xr::platformRoot());
    const xr::Value entry(item);  // copied: g++ 12 misreads moving the variant
    report->get("_items").array()->push_back(entry);
    return report;
  }
};

}  // namespace

XR_PLUGIN_EXPORT_VERSIONS("2.5-test");

extern "C" __attribute__((visibility("default"))) xr::XRReporter* XRPluginCreatePrincipalReporter() {
  if (mode() == "refuse") return nullptr;
  return std::make_unique<HostTestReporter>().release();
}

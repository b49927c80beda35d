// The country list resource as the plug-in reads it, looked up for every code in every list.
#include <cstdint>
#include <string_view>

#include "platform/Json.h"
#include "reporter/XRModemPlugin.h"
#include "support/XRModemPluginPeer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  auto parsed = xr::parseJson(text, xr::JsonLimits{16, 1u << 20});
  auto root = parsed.value.dictionary();
  if (!root) return 0;

  xr::XRModemPlugin plugin(std::make_shared<xr::Bundle>("/nonexistent"));
  plugin.setCountryCodeArray(root->get("Countries").array());
  // The first byte picks the modem, so every list is reached.
  switch (data[0] % 4) {
    case 0: xr::test::XRModemPluginPeer(plugin).isTorvinFamily() = true; break;
    case 1: plugin.setObject("Pellan", "Device"); plugin.setObject("TARVO VERSION 0004", "xrmodem_fwvers"); break;
    case 2: plugin.setObject("Quell", "Device"); plugin.setObject("TARVO VERSION 0007", "xrmodem_fwvers"); break;
    case 3: plugin.setObject("Zarko", "Device"); plugin.setObject("TARVO VERSION 0001", "xrmodem_fwvers"); break;
  }
  for (int code = 0; code < 256; ++code) plugin.countryNamesForCountryCode(static_cast<uint8_t>(code));
  return 0;
}

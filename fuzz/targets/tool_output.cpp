// The driver-listing and open-files parsers over arbitrary tool output. The version parsers
// are checked against the rule they implement: the text between the first "(" and the first
// ")" when that one comes later; the first variant stores it only when it is not empty.
#include <cstdlib>
#include <string>

#include "reporter/XRModemPlugin.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  std::string output(reinterpret_cast<const char*>(data + 1), size - 1);
  xr::XRModemPlugin plugin(std::make_shared<xr::Bundle>("/nonexistent"));
  if (data[0] & 1) {
    plugin.retrieveProcessesUsingModemOutput(output);
    auto names = plugin.modemInfoDictionary()->get("xrmodem_modemInUseBy").stringValue();
    // Written only when a name was found; a name may itself end in ", ".
    if (names && names->empty()) std::abort();
    return 0;
  }
  auto open = output.find('('), close = output.find(')');
  std::optional<std::string> expected;
  if (open != std::string::npos && close != std::string::npos && close > open)
    expected = output.substr(open + 1, close - open - 1);
  if (xr::XRModemPlugin::retrieveLoadedDriverVersionFromDrvxStatOutput2(output) != expected) std::abort();
  plugin.retrieveLoadedDriverVersionFromDrvxStatOutput(output);
  auto stored = plugin.modemInfoDictionary()->get("Driver Version").stringValue();
  if (stored != (expected && !expected->empty() ? expected : std::nullopt)) std::abort();
  return 0;
}

// Placeholders for the country lookups until they land; this file goes then.
#include "reporter/XRModemPlugin.h"

namespace xr {
uint8_t XRModemPlugin::readModemCountryCodeFromGlobalPreferencesFile() { return 0; }
std::optional<std::string> XRModemPlugin::modemCountryCodeListForCurrentModem() const { return std::nullopt; }
std::optional<std::string> XRModemPlugin::countryNamesForCountryCode(uint8_t) const { return std::nullopt; }
}  // namespace xr

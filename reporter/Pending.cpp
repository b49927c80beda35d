// Placeholders for the report assembly operations until they land; this file goes then.
#include "reporter/XRModemPlugin.h"

namespace xr {
DictionaryRef XRModemPlugin::getModemInfoDictionary() { return cleanedModemInfoDictionary(); }
DictionaryRef XRModemPlugin::cleanedModemInfoDictionary() { return _modemInfoDictionary; }
std::string XRModemPlugin::highestModulationSupported() const { return ""; }
}  // namespace xr

// Placeholder for the probe sequence until it lands; this file goes then.
#include "reporter/XRModemPlugin.h"

namespace xr {
DictionaryRef XRModemPlugin::getModemInfoDictionary() { return cleanedModemInfoDictionary(); }
}  // namespace xr

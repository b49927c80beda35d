// Placeholders for the internal modem dialogue until it lands; this file goes then.
#include "reporter/XRModemPlugin.h"

namespace xr {
bool XRModemPlugin::openInternalModemPort() { return false; }
std::optional<std::string> XRModemPlugin::sendAnUnknownResponseATCommand(const std::string&) { return std::nullopt; }
}  // namespace xr

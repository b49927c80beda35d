// Placeholders for the USB modem discovery until it lands; this file goes then.
#include "reporter/XRModemPlugin.h"

namespace xr {
void XRModemPlugin::queryUSBExternalModems() {}
bool XRModemPlugin::createMatchDictionaryForSM56KUSBModem() { return false; }
void XRModemPlugin::CleanUp() {}
void DeviceAppeared(void*, RegistryHandle) {}
}  // namespace xr

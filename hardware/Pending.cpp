// Placeholders for the hardware probes until they land; this file goes then.
#include "reporter/XRModemPlugin.h"

namespace xr {
bool XRModemPlugin::queryI2CROMContents() { return false; }
std::optional<std::string> XRModemPlugin::vendorNameFromVendorID(int8_t) { return std::nullopt; }
std::optional<std::string> XRModemPlugin::deviceNameFromDeviceID(int8_t) { return std::nullopt; }
std::optional<std::string> XRModemPlugin::skuNameFromSKUID(int8_t) { return std::nullopt; }
std::optional<std::string> XRModemPlugin::chipsetVendorNameFromID(int8_t) { return std::nullopt; }
std::optional<std::string> XRModemPlugin::chipsetVendorDeviceNameFromID(int8_t) { return std::nullopt; }
bool XRModemPlugin::queryI2SModem() { return false; }
std::optional<std::string> XRModemPlugin::getInternalSerialModemDriverName(const std::string&) { return std::nullopt; }
bool XRModemPlugin::fileExists(const std::string&) const { return false; }
void XRModemPlugin::queryUSBExternalModems() {}
bool XRModemPlugin::createMatchDictionaryForSM56KUSBModem() { return false; }
void XRModemPlugin::CleanUp() {}
void DeviceAppeared(void*, RegistryHandle) {}
}  // namespace xr

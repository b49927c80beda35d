// The modem's identification ROM and the names of its identifier bytes.
#include <algorithm>

#include "platform/RegistryObject.h"
#include "platform/Trace.h"
#include "reporter/XRModemPlugin.h"

namespace xr {
namespace {

const char* const kROMPath = "HwDeviceTree:zel-io/i2c/i2c-modem";

// The four revision bytes as text; a byte the ROM leaves zero is left out rather than ending
// the text early or putting a NUL into the report.
std::string hardwareVersion(const I2CROMContentRec& rom) {
  std::string text;
  for (uint8_t c : {rom.HWRevNumber_Major, rom.HWRevNumber_Separator, rom.HWRevNumber_Minor, rom.HWRevState}) {
    if (c) text.push_back(static_cast<char>(c));
  }
  return text;
}

}  // namespace

bool XRModemPlugin::queryI2CROMContents() {
  RegistryAccess access;
  if (RegistryOpen(access.receive()) != kRegistrySuccess) return false;
  RegistryObject entry(RegistryEntryFromPath(access.get(), kROMPath));
  RegistryValue value = entry ? RegistryEntryProperty(entry.get(), "modem-id") : nullptr;
  const Data* rom = value ? value->data() : nullptr;
  if (!rom) {
    traceNote("no modem-id at ", kROMPath);
    return false;
  }

  _i2cROMContents = I2CROMContentRec{};
  // An empty value has no buffer at all, which memcpy may not be given.
  std::copy_n(rom->bytes(), std::min(rom->length(), sizeof(I2CROMContentRec)),
              reinterpret_cast<uint8_t*>(&_i2cROMContents));

  auto put = [this](const std::optional<std::string>& text, const char* key) {
    if (text && !text->empty()) setObject(*text, key);
  };
  put(deviceNameFromDeviceID(static_cast<int8_t>(_i2cROMContents.deviceID)), "Device");
  put(skuNameFromSKUID(static_cast<int8_t>(_i2cROMContents.SKUID)), "SKU");
  put(hardwareVersion(_i2cROMContents), "Hardware Version");
  put(interfaceTypeNameFromInterfaceType(static_cast<int8_t>(_i2cROMContents.interfaceType)),
      "xrmodem_interfacetype");
  return true;
}

std::optional<std::string> XRModemPlugin::vendorNameFromVendorID(int8_t id) {
  if (id == 1) return "Orvik";
  return std::nullopt;
}

std::optional<std::string> XRModemPlugin::deviceNameFromDeviceID(int8_t id) {
  switch (id) {
    case 1: return "Pellan";
    case 6: return "MiniPellan";
    case 10: return "MiniPellan-DCP";
    case 11: return "Torvin2";
    case 12: return "MicroTorvin";
    case 13: return "LastTorvin";
    default: return std::nullopt;
  }
}

std::optional<std::string> XRModemPlugin::skuNameFromSKUID(int8_t id) {
  switch (id) {
    case 1: return "UCJ";
    case 2: return "Euro";
    case 3: return "Australia";
    case 4: return "South Africa";
    default: return std::nullopt;
  }
}

std::optional<std::string> XRModemPlugin::chipsetVendorNameFromID(int8_t id) {
  switch (id) {
    case 1: return "Rockwell";
    case 2: return "Lucent";
    case 3: return "Conexant";
    case 4: return "Texas Instruments";
    default: return std::nullopt;
  }
}

std::optional<std::string> XRModemPlugin::chipsetVendorDeviceNameFromID(int8_t id) {
  switch (id) {
    case 1: return "RC56D";
    case 2: return "RCVDL56";
    case 3: return "RC6789_USB";
    case 4: return "TNET5000";
    default: return std::nullopt;
  }
}

}  // namespace xr

#pragma once

#include <cstdint>

namespace xr {

// The modem's identification ROM: 23 one-byte fields, no gaps.
struct I2CROMContentRec {
  uint8_t vendorID;
  uint8_t deviceID;
  uint8_t SKUID;
  uint8_t interfaceType;  // 1 serial, 2 USB, 3 I2S, 4 direct audio
  uint8_t HWRevNumber_Major;
  uint8_t HWRevNumber_Separator;
  uint8_t HWRevNumber_Minor;
  uint8_t HWRevState;
  uint8_t HWRevState_Number;
  uint8_t FWRevNumber_Major;
  uint8_t FWRevNumber_Separator;
  uint8_t FWRevNumber_Minor;
  uint8_t FWRevState;
  uint8_t FWRevState_Number;
  uint8_t chipsetVendorID;
  uint8_t chipsetDeviceID;
  uint8_t cpuTargeted;
  uint8_t ethernetMacaddress1;
  uint8_t ethernetMacaddress2;
  uint8_t ethernetMacaddress3;
  uint8_t ethernetMacaddress4;
  uint8_t ethernetMacaddress5;
  uint8_t ethernetMacaddress6;
};
static_assert(sizeof(I2CROMContentRec) == 23, "the ROM record has no gaps");

}  // namespace xr

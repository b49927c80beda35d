#include "country/ISOCountryCodes.h"

namespace xr {

const char ISOCountryCodeList[2 * kISOCountryCodeCount + 1] =
    "USSGGBAUATBECACNCZDKFIFRDEGRGUHKISINIEITJPKR  MYNLNZNOPHPLPTSKESSECHTWTHZAID";

// "SK" shares the Czech code and the blank entry the US one: that is what the settings tool
// has always written, so the table keeps it.
const int16_t T35CountryCodeTable[kISOCountryCodeCount] = {
    0xB5, 0x9C, 0xB4, 0x09, 0x0A, 0x0F, 0x20, 0x26, 0x2E, 0x31, 0x3C, 0x3D, 0x42,
    0x46, 0x48, 0x50, 0x52, 0x53, 0x57, 0x59, 0x00, 0x61, 0xB5, 0x6C, 0x7B, 0x7E,
    0x82, 0x89, 0x8A, 0x8B, 0x2E, 0xA0, 0xA5, 0xA6, 0xFE, 0xA9, 0x9F, 0x54};

int FoundISOCountryCodes(int16_t count, const char* isoCode) {
  for (int16_t i = 0; i < count; ++i) {
    if (ISOCountryCodeList[2 * i] == isoCode[0] && ISOCountryCodeList[2 * i + 1] == isoCode[1])
      return T35CountryCodeTable[i];
  }
  return 0;
}

}  // namespace xr

#pragma once

#include <cstdint>

namespace xr {

// The modem settings tool stores the user's country as a two-letter ISO code; Torvin-family
// and digital-audio-bus modems count countries by T.35 code. These two parallel tables
// convert one to the other, entry i of one matching entry i of the other.
inline constexpr int kISOCountryCodeCount = 38;

// The 38 two-character codes back to back. Entry 22 is two blanks, not a country.
extern const char ISOCountryCodeList[2 * kISOCountryCodeCount + 1];
extern const int16_t T35CountryCodeTable[kISOCountryCodeCount];

// The T.35 code of the first of the first count entries whose two characters equal the
// first two of isoCode (exact bytes, case-sensitive); 0 when none does or count <= 0. Japan's
// code is 0 too, so a miss and Japan look alike. count must not exceed 38; isoCode must hold
// at least two characters.
int FoundISOCountryCodes(int16_t count, const char* isoCode);

}  // namespace xr

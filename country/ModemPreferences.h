#pragma once

#include <cstddef>
#include <cstdint>

namespace xr {

// The modem preferences file, "/var/db/modem.prefs" under the platform root: a 25-byte
// record whose first byte is the Torvin-family modem's T.35 country code, then the record's
// checksum, 32-bit little-endian. Bytes after those 29 are ignored.
inline constexpr size_t kModemPreferencesRecordSize = 25;
inline constexpr const char* kModemPreferencesPath = "/var/db/modem.prefs";

// True when the file could be opened, its first 29 bytes read and the checksum matched;
// record (at least 25 bytes) then holds the record. On false, record must not be used.
bool ReadPreferences(uint8_t* record);

// ReadPreferences' result; on success *code gets the record's first byte, on failure it is
// left as it was.
bool GetTorvinCountryCodeFromPrefs(uint8_t* code);

// The record's checksum: the sum of its bytes taken as signed 8-bit values, modulo 2^32.
uint32_t ModemPreferencesChecksum(const uint8_t* record);

}  // namespace xr

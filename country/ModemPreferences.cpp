#include "country/ModemPreferences.h"

#include <cstring>

#include "platform/RegularFile.h"

namespace xr {
namespace {
// The record and its checksum lead the file; anything much bigger is not a preferences file.
constexpr size_t kMaxPreferencesFileBytes = 64 * 1024;
}  // namespace

uint32_t ModemPreferencesChecksum(const uint8_t* record) {
  uint32_t sum = 0;
  // Unsigned arithmetic wraps without overflow; the byte's sign is kept through int8_t.
  for (size_t i = 0; i < kModemPreferencesRecordSize; ++i)
    sum += static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(record[i])));
  return sum;
}

bool ReadPreferences(uint8_t* record) {
  // One reading of the file, so record and checksum are of the same version of it.
  const RegularFileRead file = readRegularFileUnderPlatformRoot(kModemPreferencesPath, kMaxPreferencesFileBytes);
  uint8_t stored[4];
  if (!file.ok() || file.contents.size() < kModemPreferencesRecordSize + sizeof stored) return false;
  std::memcpy(record, file.contents.data(), kModemPreferencesRecordSize);
  std::memcpy(stored, file.contents.data() + kModemPreferencesRecordSize, sizeof stored);
  uint32_t checksum = static_cast<uint32_t>(stored[0]) | static_cast<uint32_t>(stored[1]) << 8 |
                      static_cast<uint32_t>(stored[2]) << 16 | static_cast<uint32_t>(stored[3]) << 24;
  return checksum == ModemPreferencesChecksum(record);
}

bool GetTorvinCountryCodeFromPrefs(uint8_t* code) {
  uint8_t record[kModemPreferencesRecordSize] = {};
  if (!ReadPreferences(record)) return false;
  *code = record[0];
  return true;
}

}  // namespace xr

#include "country/ModemPreferences.h"

#include <fcntl.h>

#include "platform/PlatformRoot.h"
#include "platform/Posix.h"

namespace xr {
namespace {
// Reads until the block is whole; false on end of file or error, as a short fread would be.
bool readBlock(int fd, uint8_t* buffer, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = posix::read(fd, buffer + done, size - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}
}  // namespace

uint32_t ModemPreferencesChecksum(const uint8_t* record) {
  uint32_t sum = 0;
  // Unsigned arithmetic wraps without overflow; the byte's sign is kept through int8_t.
  for (size_t i = 0; i < kModemPreferencesRecordSize; ++i)
    sum += static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(record[i])));
  return sum;
}

bool ReadPreferences(uint8_t* record) {
  FileDescriptor file(posix::open(resolvePath(kModemPreferencesPath).c_str(), O_RDONLY));
  if (!file) return false;
  uint8_t stored[4];
  if (!readBlock(file.get(), record, kModemPreferencesRecordSize) || !readBlock(file.get(), stored, sizeof stored))
    return false;
  file.reset();
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

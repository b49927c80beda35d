#pragma once

#include <cstdint>
#include <string>

namespace xr::test {

// The bytes of a modem preferences file (/var/db/modem.prefs) whose record holds code: 25
// record bytes, then the sum of their signed values, little-endian. valid false breaks the
// sum.
inline std::string modemPrefsRecord(uint8_t code, bool valid = true) {
  std::string record(25, '\x11');
  record[0] = static_cast<char>(code);
  uint32_t sum = 0;
  for (char c : record) sum += static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(c)));
  if (!valid) ++sum;
  for (int i = 0; i < 4; ++i) record += static_cast<char>((sum >> (8 * i)) & 0xFF);
  return record;
}

}  // namespace xr::test

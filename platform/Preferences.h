#pragma once

#include <string>

#include "platform/Value.h"

namespace xr {

// The preferences store's system-wide, host-specific domain (any application, any user, the
// current host): the JSON object in Library/Preferences/ByHost/GlobalPreferences.json under the
// platform root. A missing or malformed file, or anything but a regular file, is an empty domain.
class Preferences {
 public:
  // Re-reads the file so values written by other processes are seen.
  static void synchronize();
  // The value under key as of the last synchronisation; null when absent.
  static Value copyValue(const std::string& key);

  static constexpr const char* kRelativePath = "/Library/Preferences/ByHost/GlobalPreferences.json";
};

}  // namespace xr

// The modem preferences file and the global preference, read from a scratch platform root.
// The file reader is checked against the format: valid exactly when 29 bytes are there and
// the little-endian checksum is the signed sum of the first 25.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "country/ModemPreferences.h"
#include "platform/PlatformRoot.h"
#include "platform/Preferences.h"
#include "reporter/XRModemPlugin.h"

namespace {
const std::filesystem::path& scratchRoot() {
  static const std::filesystem::path root = [] {
    auto dir = std::filesystem::temp_directory_path() / ("xr-fuzz-prefs-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir / "var/db");
    std::filesystem::create_directories(dir / "Library/Preferences/ByHost");
    return dir;
  }();
  return root;
}

void write(const std::filesystem::path& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  xr::ScopedPlatformRoot root(scratchRoot().string());
  if (data[0] & 1) {
    write(scratchRoot() / "var/db/modem.prefs", data + 1, size - 1);
    uint8_t record[25] = {};
    bool ok = xr::ReadPreferences(record);
    bool expected = false;
    if (size - 1 >= 29) {
      int32_t sum = 0;
      for (int i = 0; i < 25; ++i) sum += static_cast<int8_t>(data[1 + i]);
      uint32_t stored = static_cast<uint32_t>(data[26]) | static_cast<uint32_t>(data[27]) << 8 |
                        static_cast<uint32_t>(data[28]) << 16 | static_cast<uint32_t>(data[29]) << 24;
      expected = stored == static_cast<uint32_t>(sum);
    }
    if (ok != expected) {
      std::fprintf(stderr, "ReadPreferences gave %d for a file that is %s\n", ok, expected ? "valid" : "invalid");
      std::abort();
    }
    uint8_t code = 0x77;
    if (xr::GetTorvinCountryCodeFromPrefs(&code) != expected || (expected && code != data[1]) ||
        (!expected && code != 0x77))
      std::abort();
  } else {
    write(scratchRoot() / "Library/Preferences/ByHost/GlobalPreferences.json", data + 1, size - 1);
    xr::XRModemPlugin plugin(std::make_shared<xr::Bundle>("/nonexistent"));
    plugin.readModemCountryCodeFromGlobalPreferencesFile();
  }
  return 0;
}

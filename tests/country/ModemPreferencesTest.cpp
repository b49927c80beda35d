#include <gtest/gtest.h>

#include <cerrno>
#include <optional>

#include "country/ModemPreferences.h"
#include "platform/PlatformRoot.h"
#include "platform/Posix.h"
#include "support/Descriptors.h"
#include "support/TempDirectory.h"

namespace xr {
namespace {

std::string record(uint8_t first, uint8_t fill) {
  std::string r(kModemPreferencesRecordSize, static_cast<char>(fill));
  r[0] = static_cast<char>(first);
  return r;
}
std::string littleEndian(uint32_t v) {
  return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
}

// Every path gives its file back, a failed read included.
TEST(ModemPreferencesTest, ReadsOnlyAValidRecord) {
  const std::string us = record(0xB5, 0x00);  // signed sum -75
  struct Case {
    const char* name;
    std::optional<std::string> file;  // nullopt: no file at all
    std::optional<uint8_t> code;      // nullopt: not valid
  } cases[] = {
      {"missing", std::nullopt, std::nullopt},
      {"empty", "", std::nullopt},
      {"28 bytes", us + littleEndian(0xFFFFFFB5).substr(0, 3), std::nullopt},
      // 0xB5 counts as -75; an unsigned sum would store 0x000000B5.
      {"high byte is negative", us + littleEndian(0xFFFFFFB5), 0xB5},
      {"unsigned sum", us + littleEndian(0xB5), std::nullopt},
      {"all 0xFF", record(0xFF, 0xFF) + littleEndian(0xFFFFFFE7), 0xFF},
      {"checksum big-endian", us + "\xFF\xFF\xFF\xB5", std::nullopt},
      {"trailing bytes ignored", us + littleEndian(0xFFFFFFB5) + "garbage", 0xB5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDirectory root;
    ScopedPlatformRoot scoped(root.path());
    if (c.file) root.write(kModemPreferencesPath, *c.file);
    const auto descriptors = test::openDescriptors();
    uint8_t code = 0x77;  // must survive a failed read
    EXPECT_EQ(GetTorvinCountryCodeFromPrefs(&code), c.code.has_value());
    EXPECT_EQ(code, c.code.value_or(0x77));
    EXPECT_EQ(test::openDescriptors(), descriptors);
  }
}

}  // namespace
}  // namespace xr

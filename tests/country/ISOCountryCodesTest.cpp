#include <gtest/gtest.h>

#include "country/ISOCountryCodes.h"
#include "platform/PlatformRoot.h"
#include "platform/Preferences.h"
#include "reporter/XRModemPlugin.h"
#include "support/TempDirectory.h"

namespace xr {
namespace {

TEST(FoundISOCountryCodesTest, FindsTheFirstMatchWithinCount) {
  struct Case {
    int16_t count;
    const char* iso;
    int code;
  } cases[] = {
      {38, "USA", 0xB5}, {38, "  ", 0xB5}, {38, "us", 0},
      // Pairs straddling two entries ("US" "SG", "SG" "GB") must not match.
      {38, "SS", 0}, {38, "GG", 0},
      {0, "US", 0}, {-1, "US", 0}, {38, "ID", 0x54}, {37, "ID", 0}, {31, "SK", 0x2E}, {30, "SK", 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FoundISOCountryCodes(c.count, c.iso), c.code) << c.count << " \"" << c.iso << "\"";
}

const std::string kKey = "com.tarvo.TarvoModemSettingTool.LastCountryCode";

// Each case rewrites the file, so a value kept from an earlier read shows too.
TEST(GlobalPreferenceTest, ConvertsTheStoredIsoCode) {
  struct Case {
    const char* json;  // the stored value; nullptr: no preference file
    uint8_t code;
  } cases[] = {
      {nullptr, 0}, {"\"US\"", 0xB5}, {"\"us\"", 0}, {"\"\"", 0}, {"\"U\"", 0},
      {"\"US3456789012345678\"", 0xB5}, {"\"US34567890123456789\"", 0},  // 18 and 19 characters
      {"\"US\\u00e9\"", 0}, {"181", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json ? c.json : "(no file)");
    test::TempDirectory root;
    ScopedPlatformRoot scoped(root.path());
    if (c.json) root.write(Preferences::kRelativePath, "{\"" + kKey + "\": " + c.json + "}");
    EXPECT_EQ(XRModemPlugin(nullptr).readModemCountryCodeFromGlobalPreferencesFile(), c.code);
  }
}

}  // namespace
}  // namespace xr

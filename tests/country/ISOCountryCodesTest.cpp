#include <gtest/gtest.h>

#include "country/ISOCountryCodes.h"
#include "platform/Preferences.h"
#include "reporter/XRModemPlugin.h"
#include "tests/country/CountryTestSupport.h"

namespace xr {
namespace {

struct LookupCase {
  int16_t count;
  const char* iso;
  int code;
};
void PrintTo(const LookupCase& c, std::ostream* os) { *os << c.count << " \"" << c.iso << "\""; }

class FoundISOCountryCodesTest : public testing::TestWithParam<LookupCase> {};
TEST_P(FoundISOCountryCodesTest, FindsTheFirstMatchWithinCount) {
  EXPECT_EQ(FoundISOCountryCodes(GetParam().count, GetParam().iso), GetParam().code);
}
INSTANTIATE_TEST_SUITE_P(
    Codes, FoundISOCountryCodesTest,
    testing::Values(LookupCase{38, "US", 0xB5}, LookupCase{38, "USA", 0xB5}, LookupCase{38, "SK", 0x2E},
                    LookupCase{38, "  ", 0xB5}, LookupCase{38, "JP", 0}, LookupCase{38, "TW", 0xFE},
                    LookupCase{38, "ID", 0x54}, LookupCase{38, "us", 0}, LookupCase{38, "XX", 0},
                    // Pairs straddling two entries ("US" "SG", "SG" "GB") must not match.
                    LookupCase{38, "SS", 0}, LookupCase{38, "GG", 0}, LookupCase{1, "US", 0xB5},
                    LookupCase{1, "SG", 0}, LookupCase{0, "US", 0}, LookupCase{-1, "US", 0},
                    LookupCase{37, "ID", 0}, LookupCase{31, "SK", 0x2E}, LookupCase{30, "SK", 0}));

// The stored preference as JSON text; nullptr: no preference file.
struct PreferenceCase {
  const char* name;
  const char* json;
  uint8_t code;
};
void PrintTo(const PreferenceCase& c, std::ostream* os) { *os << c.name; }

const std::string kKey = "com.tarvo.TarvoModemSettingTool.LastCountryCode";

class GlobalPreferenceTest : public testing::TestWithParam<PreferenceCase> {};
TEST_P(GlobalPreferenceTest, ConvertsTheStoredIsoCode) {
  TemporaryRoot root;
  ScopedPlatformRoot scoped(root.path());
  if (GetParam().json) root.write(Preferences::kRelativePath, "{\"" + kKey + "\": " + GetParam().json + "}");
  XRModemPlugin plugin(nullptr);
  EXPECT_EQ(plugin.readModemCountryCodeFromGlobalPreferencesFile(), GetParam().code);
}
INSTANTIATE_TEST_SUITE_P(
    Values, GlobalPreferenceTest,
    testing::Values(PreferenceCase{"NoFile", nullptr, 0}, PreferenceCase{"US", "\"US\"", 0xB5},
                    PreferenceCase{"SK", "\"SK\"", 0x2E}, PreferenceCase{"LowerCase", "\"us\"", 0},
                    PreferenceCase{"Empty", "\"\"", 0}, PreferenceCase{"OneCharacter", "\"U\"", 0},
                    PreferenceCase{"Eighteen", "\"US3456789012345678\"", 0xB5},
                    PreferenceCase{"Nineteen", "\"US34567890123456789\"", 0},
                    PreferenceCase{"NonAsciiAfterCode", "\"US\\u00e9\"", 0}, PreferenceCase{"Number", "181", 0},
                    PreferenceCase{"Array", "[\"US\"]", 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GlobalPreferenceTest, SeesValuesWrittenSinceTheLastCall) {
  TemporaryRoot root;
  ScopedPlatformRoot scoped(root.path());
  XRModemPlugin plugin(nullptr);
  root.write(Preferences::kRelativePath, "{\"" + kKey + "\": \"GB\"}");
  EXPECT_EQ(plugin.readModemCountryCodeFromGlobalPreferencesFile(), 0xB4);
  root.write(Preferences::kRelativePath, "{}");
  EXPECT_EQ(plugin.readModemCountryCodeFromGlobalPreferencesFile(), 0);
}

}  // namespace
}  // namespace xr

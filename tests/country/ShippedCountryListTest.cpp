#include <gtest/gtest.h>

#include <map>
#include <set>

#include "country/ISOCountryCodes.h"
#include "platform/Bundle.h"
#include "reporter/XRModemPlugin.h"

namespace xr {
namespace {

// The country list as generated into the plug-in bundle by the build.
class ShippedCountryListTest : public testing::Test {
 protected:
  std::shared_ptr<XRModemPlugin> pluginFor(bool torvin, const char* device, const char* firmware) {
    auto plugin = XRModemPlugin::create(std::make_shared<Bundle>(XR_BINARY_DIR "/bin/XRModem.xrplugin"));
    plugin->_isTorvinFamily = torvin;
    if (device) plugin->setObject(device, "Device");
    if (firmware) plugin->setObject(firmware, "xrmodem_fwvers");
    return plugin;
  }
};

TEST_F(ShippedCountryListTest, NamesTorvinCodes) {
  auto plugin = pluginFor(true, nullptr, nullptr);
  ASSERT_NE(plugin->countryCodeArray(), nullptr);
  EXPECT_EQ(plugin->countryNamesForCountryCode(0xB5), "United States");
  EXPECT_EQ(plugin->countryNamesForCountryCode(0x2E), "Czech Republic, Slovakia");
  EXPECT_EQ(plugin->countryNamesForCountryCode(0x42), "Germany");
  EXPECT_EQ(plugin->countryNamesForCountryCode(0x3F), std::nullopt);  // unassigned
}

// Whatever the settings tool can store must come out as a country name.
TEST_F(ShippedCountryListTest, NamesEveryCodeTheSettingsToolStores) {
  auto plugin = pluginFor(true, nullptr, nullptr);
  for (int i = 0; i < kISOCountryCodeCount; ++i) {
    const char* iso = &ISOCountryCodeList[2 * i];
    auto code = static_cast<uint8_t>(FoundISOCountryCodes(kISOCountryCodeCount, iso));
    EXPECT_NE(plugin->countryNamesForCountryCode(code), std::nullopt) << std::string(iso, 2);
  }
}

TEST_F(ShippedCountryListTest, NamesModemNumbersOfNewFirmwareOnly) {
  auto plugin = pluginFor(false, "Quell", "TARVO VERSION 0007");
  EXPECT_EQ(plugin->countryNamesForCountryCode(181), "United States");
  EXPECT_EQ(plugin->countryNamesForCountryCode(46), "Czech Republic, Slovakia");
  EXPECT_EQ(plugin->countryNamesForCountryCode(1), std::nullopt);  // in T.35 only
  // Old firmware numbering was never published: nothing ships for it.
  EXPECT_EQ(pluginFor(false, "Quell", "TARVO VERSION 0006")->countryNamesForCountryCode(181), std::nullopt);
  EXPECT_EQ(pluginFor(false, "Pellan", "TARVO VERSION 0004")->countryNamesForCountryCode(181), std::nullopt);
}

// An entry the lookup can never reach (a code taken earlier in the same list) or cannot show
// is a data fault.
TEST_F(ShippedCountryListTest, EveryEntryIsReachable) {
  auto plugin = pluginFor(true, nullptr, nullptr);
  ASSERT_NE(plugin->countryCodeArray(), nullptr);
  std::map<std::string, std::set<int64_t>> taken;
  for (const Value& entry : *plugin->countryCodeArray()) {
    DictionaryRef country = entry.dictionary();
    ASSERT_NE(country, nullptr);
    ASSERT_NE(country->get("Name").stringValue().value_or(""), "");
    for (const auto& [list, value] : *country) {
      if (list == "Name") continue;
      DictionaryRef codes = value.dictionary();
      ASSERT_NE(codes, nullptr) << list;
      std::optional<int64_t> code = codes->get("CountryCode").integer();
      ASSERT_TRUE(code && *code >= 0 && *code <= 255) << list;
      EXPECT_TRUE(taken[list].insert(*code).second) << list << " " << *code << " twice";
    }
  }
  EXPECT_GE(taken["Torvin"].size(), 190u);
  EXPECT_GE(taken["NewQuellOrPellan"].size(), 39u);
}

}  // namespace
}  // namespace xr

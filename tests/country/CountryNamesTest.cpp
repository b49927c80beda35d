#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <set>

#include "country/ISOCountryCodes.h"
#include "platform/Bundle.h"
#include "platform/Json.h"
#include "reporter/XRModemPlugin.h"
#include "support/TempDirectory.h"
#include "support/XRModemPluginPeer.h"

namespace xr {
namespace {

using Names = std::optional<std::string>;

// What the probe sequence has learnt about the modem before it asks for a country name.
struct Modem {
  bool torvin = false;
  bool i2s = false;
  Value device;
  Value firmware;
};

std::shared_ptr<XRModemPlugin> pluginFor(const Modem& modem, const std::string& bundle) {
  auto plugin = XRModemPlugin::create(std::make_shared<Bundle>(bundle));
  test::XRModemPluginPeer(*plugin).isTorvinFamily() = modem.torvin;
  test::XRModemPluginPeer(*plugin).isI2SFamily() = modem.i2s;
  plugin->setObject(modem.device, "Device");
  plugin->setObject(modem.firmware, "xrmodem_fwvers");
  return plugin;
}

// The Torvin and digital-audio-bus families, Pellan firmware 0005 and Quell 0007 are the
// torvin-prefs, i2s-modem, serial-pellan and serial-quell examples' lists; here the other
// side of each firmware boundary and what is not a version.
TEST(CountryCodeListTest, ChoosesTheModemsNumbering) {
  struct Case {
    Modem modem;
    Names list;
  } cases[] = {
      {{false, false, "Pellan", "TARVO VERSION 0004"}, "OldPellan"},
      {{false, false, "Quell", "TARVO VERSION 0001"}, "OldQuell"},
      {{false, false, "Quell", "TARVO VERSION 0006"}, "OldQuell"},
      {{false, false, "Quell", "TARVO VERSION 00061"}, "OldQuell"},  // four digits only
      {{false, false, "Quell", "TARVO VERSION 7"}, std::nullopt},    // fewer than four
      {{false, false, "Zarko", "TARVO VERSION 0009"}, "OldQuell"},
      {{false, false, 5, "TARVO VERSION 0004"}, "OldQuell"},  // device not text
      {{false, false, "Pellan", "TARVO VERSION 0000"}, std::nullopt},
      // The digits are read at a fixed place from the start, not after the marker.
      {{false, false, "Quell", "Rev TARVO VERSION 0007"}, std::nullopt},
      {{false, false, "Quell", 7}, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(toJson(c.modem.device, -1) + " " + toJson(c.modem.firmware, -1));
    EXPECT_EQ(pluginFor(c.modem, "/nonexistent")->modemCountryCodeListForCurrentModem(), c.list);
  }
}

const Modem kTorvin{true, false, {}, {}};

// Every shape of entry the lookup must cope with. Order matters: the entries that must never
// match sit before the ones that must.
const char* kTestCountries = R"({"Countries": [
  "not a dictionary",
  {"Name": "Alpha", "Torvin": {"CountryCode": 46, "SameAs": ["Beta", "Gamma"]},
                    "OldQuell": {"CountryCode": "015"}},
  {"Name": "Delta", "Torvin": {"CountryCode": 46, "SameAs": ["Epsilon"]}},
  {"Name": "Hex", "Torvin": {"CountryCode": "0x10"}},
  {"Torvin": {"CountryCode": 17}},
  {"Name": 5, "Torvin": {"CountryCode": 17}},
  {"Name": "Zeta", "Torvin": {"CountryCode": 17, "SameAs": "Eta"}},
  {"Name": "Theta", "Torvin": {"CountryCode": -1}},
  {"Name": "Iota", "Torvin": {"CountryCode": 511}},
  {"Name": "Rho", "Torvin": {"CountryCode": "-1"}},
  {"Name": "Kappa", "Torvin": {"CountryCode": 255, "SameAs": ["Lambda", 7, "Mu"]}},
  {"Name": "Nu", "Torvin": "not a dictionary", "OldPellan": {"CountryCode": 3}},
  {"Name": "Xi", "Torvin": {"CountryCode": 3}, "NewQuellOrPellan": {"CountryCode": "3"}},
  {"Name": "Omicron", "Torvin": {"CountryCode": 12.0, "SameAs": []}}
]})";

TEST(CountryNamesTest, NamesTheFirstMatchingEntry) {
  test::TempDirectory dir;
  dir.write("ModemCountryCode.dict", kTestCountries);
  const Modem oldQuell{false, false, "Quell", "TARVO VERSION 0006"};
  struct Case {
    Modem modem;
    uint8_t code;
    Names names;
  } cases[] = {
      {kTorvin, 46, "Alpha, Beta, Gamma"},
      {kTorvin, 0, "Hex"},  // "0x10" read as decimal text is 0
      {kTorvin, 17, "Zeta"},  // nameless entries skipped, "SameAs" not an array ignored
      {kTorvin, 255, "Kappa, Lambda, Mu"},  // -1 and 511 never match
      {kTorvin, 3, "Xi"},
      {kTorvin, 12, "Omicron"},
      {oldQuell, 15, "Alpha"},
      {oldQuell, 46, {}},
      {{false, false, "Pellan", "TARVO VERSION 0004"}, 3, "Nu"},
      {{false, false, "Quell", "no version"}, 46, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(toJson(c.modem.firmware, -1) + " code " + std::to_string(c.code));
    EXPECT_EQ(pluginFor(c.modem, dir.path())->countryNamesForCountryCode(c.code), c.names);
  }
}

// A bundle without a country list, or with one nested deeper than the reader allows: nothing
// is kept or found.
TEST(CountryNamesTest, BadResourceFindsNothing) {
  EXPECT_EQ(pluginFor(kTorvin, "/nonexistent")->countryNamesForCountryCode(0xB5), std::nullopt);
  test::TempDirectory dir;
  dir.write("ModemCountryCode.dict", "{\"Countries\": [[[[[[[[[[[[[[[[[[[[[[]]]]]]]]]]]]]]]]]]]]]]}");
  auto plugin = pluginFor(kTorvin, dir.path());
  EXPECT_EQ(plugin->countryCodeArray(), nullptr);
  EXPECT_EQ(plugin->countryNamesForCountryCode(0xB5), std::nullopt);
}

// The list the build generates into the plug-in bundle. An entry the lookup can never reach
// (its code taken earlier in the same list) or cannot show is a data fault; the old firmware
// numberings were never published, so nothing ships for them.
TEST(ShippedCountryListTest, NamesEveryCountryTheSettingsToolStores) {
  auto plugin = pluginFor(kTorvin, XR_BINARY_DIR "/bin/XRModem.xrplugin");
  ASSERT_NE(plugin->countryCodeArray(), nullptr);
  EXPECT_EQ(plugin->countryNamesForCountryCode(0x2E), "Czech Republic, Slovakia");
  for (int i = 0; i < kISOCountryCodeCount; ++i) {
    auto code = static_cast<uint8_t>(FoundISOCountryCodes(kISOCountryCodeCount, &ISOCountryCodeList[2 * i]));
    EXPECT_NE(plugin->countryNamesForCountryCode(code), std::nullopt) << std::string(&ISOCountryCodeList[2 * i], 2);
  }
  std::map<std::string, std::set<int64_t>> taken;
  for (const Value& entry : *plugin->countryCodeArray()) {
    DictionaryRef country = entry.dictionary();
    ASSERT_NE(country, nullptr);
    ASSERT_NE(country->get("Name").stringValue().value_or(""), "");
    for (const auto& [list, value] : *country) {
      if (list == "Name") continue;
      DictionaryRef codes = value.dictionary();
      std::optional<int64_t> code = codes ? codes->get("CountryCode").integer() : std::nullopt;
      ASSERT_TRUE(code && *code >= 0 && *code <= 255) << list;
      EXPECT_TRUE(taken[list].insert(*code).second) << list << " " << *code << " twice";
    }
  }
  EXPECT_GE(taken["Torvin"].size(), 190u);
  EXPECT_GE(taken["NewQuellOrPellan"].size(), 39u);
  EXPECT_EQ(taken.size(), 2u);
}

}  // namespace
}  // namespace xr

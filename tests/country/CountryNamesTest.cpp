#include <gtest/gtest.h>

#include <optional>

#include "platform/Bundle.h"
#include "reporter/XRModemPlugin.h"
#include "tests/country/CountryTestSupport.h"

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

void describe(XRModemPlugin& plugin, const Modem& modem) {
  plugin._isTorvinFamily = modem.torvin;
  plugin._isI2SFamily = modem.i2s;
  plugin.setObject(modem.device, "Device");
  plugin.setObject(modem.firmware, "xrmodem_fwvers");
}

struct ListCase {
  const char* name;
  Modem modem;
  Names list;
};
void PrintTo(const ListCase& c, std::ostream* os) { *os << c.name; }
class CountryCodeListTest : public testing::TestWithParam<ListCase> {};
TEST_P(CountryCodeListTest, ChoosesTheModemsNumbering) {
  XRModemPlugin plugin(nullptr);
  describe(plugin, GetParam().modem);
  EXPECT_EQ(plugin.modemCountryCodeListForCurrentModem(), GetParam().list);
}
INSTANTIATE_TEST_SUITE_P(
    Modems, CountryCodeListTest,
    testing::Values(
        ListCase{"TorvinFamily", {true, false, "Quell", "TARVO VERSION 0004"}, "Torvin"},
        ListCase{"I2SOnly", {false, true, {}, {}}, "Torvin"},
        ListCase{"Pellan4", {false, false, "Pellan", "TARVO VERSION 0004"}, "OldPellan"},
        ListCase{"Pellan5", {false, false, "Pellan", "TARVO VERSION 0005"}, "NewQuellOrPellan"},
        ListCase{"MiniPellanDCP5", {false, false, "MiniPellan-DCP", "TARVO VERSION 0005"}, "NewQuellOrPellan"},
        ListCase{"Quell6", {false, false, "Quell", "TARVO VERSION 0006"}, "OldQuell"},
        ListCase{"Quell7", {false, false, "Quell", "TARVO VERSION 0007"}, "NewQuellOrPellan"},
        ListCase{"QuellOnlyFourDigitsCount", {false, false, "Quell", "TARVO VERSION 00061"}, "OldQuell"},
        ListCase{"QuellBlanksBeforeDigits", {false, false, "Quell", "TARVO VERSION   8 "}, "NewQuellOrPellan"},
        ListCase{"OtherDevice", {false, false, "Zarko", "TARVO VERSION 0009"}, "OldQuell"},
        ListCase{"NoDevice", {false, false, {}, "TARVO VERSION 0009"}, "OldQuell"},
        ListCase{"DeviceNotText", {false, false, 5, "TARVO VERSION 0004"}, "OldQuell"},
        ListCase{"VersionZero", {false, false, "Pellan", "TARVO VERSION 0000"}, std::nullopt},
        ListCase{"VersionNegative", {false, false, "Quell", "TARVO VERSION -007"}, std::nullopt},
        ListCase{"NoMarker", {false, false, "Quell", "VERSION 0007 TARVO"}, std::nullopt},
        // The digits are read at a fixed place from the start, not after the marker.
        ListCase{"MarkerLater", {false, false, "Quell", "Rev TARVO VERSION 0007"}, std::nullopt},
        ListCase{"TooShort", {false, false, "Quell", "TARVO VERSION 7"}, std::nullopt},
        ListCase{"FirmwareNotText", {false, false, "Quell", 7}, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

// A country list with every shape of entry the lookup must cope with. Order matters: the
// entries that must never match sit before the ones that must.
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
  {"Name": "Pi", "Torvin": {}},
  {"Name": "Kappa", "Torvin": {"CountryCode": 255, "SameAs": ["Lambda", 7, "Mu"]}},
  {"Name": "Nu", "Torvin": "not a dictionary", "OldPellan": {"CountryCode": 3}},
  {"Name": "Xi", "Torvin": {"CountryCode": 3}, "NewQuellOrPellan": {"CountryCode": "3"}},
  {"Name": "Omicron", "Torvin": {"CountryCode": 12.0, "SameAs": []}}
]})";

struct NameCase {
  const char* name;
  Modem modem;
  uint8_t code;
  Names names;
};
void PrintTo(const NameCase& c, std::ostream* os) { *os << c.name; }
const Modem kTorvin{true, false, {}, {}};
const Modem kOldQuell{false, false, "Quell", "TARVO VERSION 0006"};
const Modem kOldPellan{false, false, "Pellan", "TARVO VERSION 0004"};
const Modem kNewQuell{false, false, "Quell", "TARVO VERSION 0007"};
const Modem kUndecided{false, false, "Quell", "no version"};

class CountryNamesTest : public testing::TestWithParam<NameCase> {};
TEST_P(CountryNamesTest, NamesTheFirstMatchingEntry) {
  TemporaryRoot dir;
  dir.write("/ModemCountryCode.dict", kTestCountries);
  XRModemPlugin plugin(std::make_shared<Bundle>(dir.path()));
  describe(plugin, GetParam().modem);
  EXPECT_EQ(plugin.countryNamesForCountryCode(GetParam().code), GetParam().names);
}
INSTANTIATE_TEST_SUITE_P(
    Codes, CountryNamesTest,
    testing::Values(NameCase{"FirstWithItsSameAs", kTorvin, 46, "Alpha, Beta, Gamma"},
                    NameCase{"HexTextIsZero", kTorvin, 0, "Hex"}, NameCase{"HexTextNotItsValue", kTorvin, 16, {}},
                    NameCase{"NamelessSkipped", kTorvin, 17, "Zeta"},
                    NameCase{"NegativeAndAbove255NeverMatch", kTorvin, 255, "Kappa, Lambda, Mu"},
                    NameCase{"ListValueNotDictionary", kTorvin, 3, "Xi"},
                    NameCase{"RealNumber", kTorvin, 12, "Omicron"},
                    NameCase{"NoEntry", kTorvin, 47, {}},
                    NameCase{"DecimalText", kOldQuell, 15, "Alpha"},
                    NameCase{"OtherListsIgnored", kOldQuell, 46, {}},
                    NameCase{"OldPellan", kOldPellan, 3, "Nu"},
                    NameCase{"NewQuellOrPellan", kNewQuell, 3, "Xi"},
                    NameCase{"UndecidedList", kUndecided, 46, {}}),
    [](const auto& info) { return std::string(info.param.name); });

// Resources that cannot serve as a country list: the plug-in keeps no array, finds nothing.
struct ResourceCase {
  const char* name;
  const char* text;  // nullptr: no resource
};
void PrintTo(const ResourceCase& c, std::ostream* os) { *os << c.name; }
class BadCountryResourceTest : public testing::TestWithParam<ResourceCase> {};
TEST_P(BadCountryResourceTest, FindsNothing) {
  TemporaryRoot dir;
  if (GetParam().text) dir.write("/ModemCountryCode.dict", GetParam().text);
  XRModemPlugin plugin(std::make_shared<Bundle>(dir.path()));
  describe(plugin, kTorvin);
  EXPECT_EQ(plugin.countryCodeArray(), nullptr);
  EXPECT_EQ(plugin.countryNamesForCountryCode(0xB5), std::nullopt);
}
INSTANTIATE_TEST_SUITE_P(
    Resources, BadCountryResourceTest,
    testing::Values(ResourceCase{"Missing", nullptr},
                    ResourceCase{"Malformed", R"({"Countries": [{"Name": "United States", )"},
                    ResourceCase{"RootArray", R"([{"Name": "United States", "Torvin": {"CountryCode": 181}}])"},
                    ResourceCase{"CountriesNotArray", R"({"Countries": {"Name": "United States"}})"},
                    ResourceCase{"TooDeep", "{\"Countries\": [[[[[[[[[[[[[[[[[[[[[[]]]]]]]]]]]]]]]]]]]]]]}"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace xr

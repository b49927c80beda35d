#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "reporter/XRModemPlugin.h"

namespace xr {
namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

std::shared_ptr<XRModemPlugin> makePlugin(const Entries& record) {
  auto plugin = XRModemPlugin::create(std::make_shared<Bundle>(XR_BINARY_DIR "/bin/XRModem.xrplugin"));
  for (const auto& [key, value] : record) plugin->setObject(value, key);
  return plugin;
}

// The item's entries in order; other kinds of value show as "<kind>".
Entries entriesOf(const DictionaryRef& item) {
  Entries out;
  for (const auto& [key, value] : *item) {
    auto text = value.stringValue();
    out.emplace_back(key, text ? *text : std::string("<") + typeName(value.type()) + ">");
  }
  return out;
}

struct CleanCase {
  const char* name;
  Entries record;
  Entries item;
};
void PrintTo(const CleanCase& c, std::ostream* os) { *os << c.name; }

class CleaningTest : public testing::TestWithParam<CleanCase> {};

TEST_P(CleaningTest, RewritesTheRecordInPlace) {
  auto plugin = makePlugin(GetParam().record);
  DictionaryRef record = plugin->modemInfoDictionary();
  DictionaryRef item = plugin->cleanedModemInfoDictionary();
  EXPECT_EQ(item, record) << "the item is the record itself";
  EXPECT_EQ(entriesOf(item), GetParam().item);
}

const CleanCase kCleanCases[] = {
    {"FullRecordInWriteOrder",
     {{"xrmodem_modemInUseBy", "Dialer"},
      {"Device", "MicroTorvin"},
      {"SKU", "Euro"},
      {"Hardware Version", "1.0F1"},
      {"xrmodem_interfacetype", "USB"},
      {"xrmodem_fwvers", "TARVO VERSION 4.2"},
      {"xrmodem_drivername", "InternalUSBModem.drvx"},
      {"Driver Version", "1.0.1"},
      {"xrmodem_countrycode", "B5"},
      {"Country Name", "United States"},
      {"Modulation Supported", "V.92"}},
     {{"xrmodem_modemInUseBy", "Dialer"},
      {"xrmodem_driverinfo", "InternalUSBModem.drvx (v1.0.1)"},
      {"xrmodem_modulation", "V.92"},
      {"xrmodem_model", "MicroTorvin"},
      {"xrmodem_skuname", "Euro"},
      {"xrmodem_hwversion", "1.0F1"},
      {"xrmodem_interfacetype", "USB"},
      {"xrmodem_fwvers", "TARVO VERSION 4.2"},
      {"xrmodem_countryinfo", "B5 (United States)"}}},
    {"MissingPiecesGiveEmptyTextsOrNoKey",
     {{"xrmodem_drivername", "InternalUSBModem.drvx"}},
     {{"xrmodem_driverinfo", "InternalUSBModem.drvx"},
      {"xrmodem_modulation", ""},
      {"xrmodem_model", ""},
      {"xrmodem_countryinfo", ""}}},
    {"CountryNameAlone",
     {{"xrmodem_drivername", "d"}, {"Country Name", "Japan"}},
     {{"xrmodem_driverinfo", "d"}, {"xrmodem_modulation", ""}, {"xrmodem_model", ""}, {"xrmodem_countryinfo", "Japan"}}},
    {"CountryCodeAlone",
     {{"xrmodem_countrycode", "22"}, {"xrmodem_drivername", "d"}},
     {{"xrmodem_driverinfo", "d"}, {"xrmodem_modulation", ""}, {"xrmodem_model", ""}, {"xrmodem_countryinfo", "22"}}},
    {"EmptyVersionStillShown",
     {{"xrmodem_drivername", "d"}, {"Driver Version", ""}},
     {{"xrmodem_driverinfo", "d (v)"}, {"xrmodem_modulation", ""}, {"xrmodem_model", ""}, {"xrmodem_countryinfo", ""}}},
    {"UnknownDriverEmptiesTheRecord",
     {{"Device", "Brisa"}, {"xrmodem_drivername", "Unknown"}, {"Modulation Supported", "V.92"}},
     {}},
    {"NoDriverEmptiesTheRecord", {{"Device", "Pellan"}, {"Country Name", "France"}}, {}},
    {"UnknownIsCaseSensitive",
     {{"xrmodem_drivername", "unknown"}},
     {{"xrmodem_driverinfo", "unknown"}, {"xrmodem_modulation", ""}, {"xrmodem_model", ""}, {"xrmodem_countryinfo", ""}}},
    // The serial driver keeps the working keys it does not rewrite where they were, and its
    // modulation text overwrites a ROM-given interface type.
    {"RS574SerialDriver",
     {{"xrmodem_interfacetype", "USB"},
      {"Device", "Pellan"},
      {"SKU", "UCJ"},
      {"xrmodem_drivername", "com.tarvo.driver.TarvoRS574Serial"},
      {"Driver Version", "2.0"},
      {"xrmodem_countrycode", "1"},
      {"Country Name", "France"},
      {"Modulation Supported", "Serial"}},
     {{"Device", "Pellan"},
      {"xrmodem_countrycode", "1"},
      {"Country Name", "France"},
      {"xrmodem_driverinfo", "com.tarvo.driver.TarvoRS574Serial (v2.0)"},
      {"xrmodem_skuname", "UCJ"},
      {"xrmodem_interfacetype", "Serial"}}},
    {"RS574WithoutModulation",
     {{"xrmodem_drivername", "com.tarvo.driver.TarvoRS574Serial"}},
     {{"xrmodem_driverinfo", "com.tarvo.driver.TarvoRS574Serial"}, {"xrmodem_interfacetype", ""}}},
};

INSTANTIATE_TEST_SUITE_P(Records, CleaningTest, testing::ValuesIn(kCleanCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CleaningTest, ValuesOfAnotherKindCountAsAbsent) {
  auto plugin = makePlugin({{"xrmodem_drivername", "d"}});
  plugin->setObject(int64_t{5}, "Device");
  plugin->setObject(int64_t{6}, "SKU");
  EXPECT_EQ(entriesOf(plugin->cleanedModemInfoDictionary()),
            (Entries{{"xrmodem_driverinfo", "d"}, {"xrmodem_modulation", ""}, {"xrmodem_model", ""},
                     {"xrmodem_countryinfo", ""}}));
}

struct ModulationCase {
  const char* device;  // nullptr: no "Device"
  const char* driver;  // nullptr: no driver name
  const char* modulation;
};
void PrintTo(const ModulationCase& c, std::ostream* os) {
  *os << (c.device ? c.device : "(no device)") << ", " << (c.driver ? c.driver : "(no driver)");
}

class ModulationTest : public testing::TestWithParam<ModulationCase> {};

TEST_P(ModulationTest, FollowsDeviceAndDriver) {
  Entries record;
  if (GetParam().device) record.emplace_back("Device", GetParam().device);
  if (GetParam().driver) record.emplace_back("xrmodem_drivername", GetParam().driver);
  EXPECT_EQ(makePlugin(record)->highestModulationSupported(), GetParam().modulation);
}

constexpr const char* kRS574 = "com.tarvo.driver.TarvoRS574Serial";
INSTANTIATE_TEST_SUITE_P(
    Devices, ModulationTest,
    testing::Values(ModulationCase{"Torvin2", nullptr, "V.92"}, ModulationCase{"MicroTorvin", "x", "V.92"},
                    ModulationCase{"LastTorvin", nullptr, "V.92"}, ModulationCase{"Brisa", nullptr, "V.92"},
                    ModulationCase{"Pellan", nullptr, "V.90"}, ModulationCase{"Quell", nullptr, "V.90"},
                    ModulationCase{"Zarko", nullptr, "V.90"}, ModulationCase{"3rd Party Modem", nullptr, "V.90"},
                    ModulationCase{"MiniPellan", nullptr, "V.90"}, ModulationCase{"brisa", nullptr, "V.90"},
                    ModulationCase{"Torvin2 ", nullptr, "V.90"}, ModulationCase{nullptr, nullptr, "V.90"},
                    ModulationCase{"Brisa", kRS574, "Serial"}, ModulationCase{nullptr, kRS574, "Serial"},
                    ModulationCase{"Brisa", "com.tarvo.driver.TarvoRS574Serial2", "V.92"}),
    [](const auto& info) {
      std::string name = std::to_string(info.index) + "_" + (info.param.device ? info.param.device : "none");
      for (char& c : name)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
      return name;
    });

}  // namespace
}  // namespace xr

// The cleaning of records the probe sequence does not make on the example machines.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "reporter/XRModemPlugin.h"

namespace xr {
namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

std::shared_ptr<XRModemPlugin> makePlugin(const std::vector<std::pair<std::string, Value>>& record) {
  auto plugin = XRModemPlugin::create(std::make_shared<Bundle>(XR_BINARY_DIR "/bin/XRModem.xrplugin"));
  for (const auto& [key, value] : record) plugin->setObject(value, key);
  return plugin;
}

// The item of a record that has a driver and nothing else the report needs.
Entries bare(const std::string& driverinfo, const std::string& countryinfo = "") {
  return {{"xrmodem_driverinfo", driverinfo}, {"xrmodem_modulation", ""}, {"xrmodem_model", ""},
          {"xrmodem_countryinfo", countryinfo}};
}

TEST(CleaningTest, RewritesTheRecordInPlace) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, Value>> record;
    Entries item;
  } cases[] = {
      {"in-use names stay first", {{"xrmodem_modemInUseBy", "Dialer"}, {"xrmodem_drivername", "d"}},
       {{"xrmodem_modemInUseBy", "Dialer"}, {"xrmodem_driverinfo", "d"}, {"xrmodem_modulation", ""},
        {"xrmodem_model", ""}, {"xrmodem_countryinfo", ""}}},
      {"country name alone", {{"xrmodem_drivername", "d"}, {"Country Name", "Japan"}}, bare("d", "Japan")},
      {"empty version still shown", {{"xrmodem_drivername", "d"}, {"Driver Version", ""}}, bare("d (v)")},
      {"values of another kind count as absent", {{"xrmodem_drivername", "d"}, {"Device", 5}, {"SKU", 6}}, bare("d")},
      {"no driver empties the record", {{"Device", "Pellan"}, {"Country Name", "France"}}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto plugin = makePlugin(c.record);
    DictionaryRef record = plugin->modemInfoDictionary();
    DictionaryRef item = plugin->cleanedModemInfoDictionary();
    EXPECT_EQ(item, record) << "the item is the record itself";
    Entries entries;
    for (const auto& [key, value] : *item) entries.emplace_back(key, value.stringValue().value_or("<not text>"));
    EXPECT_EQ(entries, c.item);
  }
}

// The examples show every device with the modulation it gets; a near miss of the serial
// driver's name is not that driver.
TEST(CleaningTest, ModulationNeedsTheExactSerialDriverName) {
  auto plugin = makePlugin({{"Device", "Brisa"}, {"xrmodem_drivername", "com.tarvo.driver.TarvoRS574Serial2"}});
  EXPECT_EQ(plugin->highestModulationSupported(), "V.92");
}

}  // namespace
}  // namespace xr

// The probe sequence on machines built in the test, for what the example machines do not show.
#include <gtest/gtest.h>

#include "platform/Json.h"
#include "reporter/ProbeSequence.h"
#include "support/TestMachine.h"
#include "reporter/XRModemPlugin.h"
#include "support/RegistryTesting.h"
#include "support/XRModemPluginPeer.h"
#include "support/ValuePrinting.h"

namespace xr {
namespace {

std::shared_ptr<XRModemPlugin> makePlugin() {
  return XRModemPlugin::create(std::make_shared<Bundle>(XR_BINARY_DIR "/bin/XRModem.xrplugin"));
}

// A Torvin-family modem whose driver has no version anywhere: the name alone, and no firmware
// text made from a missing version.
TEST(ProbeSequenceTest, WithoutAnyVersionTheDriverStandsAlone) {
  test::TestMachine machine;
  machine.addROM(12, 0, 0);
  machine.addBundle("InternalUSBModem", std::nullopt);
  machine.addDrvxstat({});
  machine.writeModemPrefs(0x31);
  Dictionary item = *makePlugin()->getModemInfoDictionary();
  EXPECT_TRUE(test::allGivenBack(machine.registry()));
  EXPECT_EQ(item.get("xrmodem_driverinfo"), Value("InternalUSBModem.drvx"));
  EXPECT_FALSE(item.contains("xrmodem_fwvers"));
}

// A second run starts afresh: nothing of the previous machine's record, family or USB modems
// survives, and the earlier item, which shares the old USB modem map, keeps it.
TEST(ProbeSequenceTest, SecondRunOnTheSameObjectStartsAfresh) {
  const auto addUSBModem = [](test::TestMachine& machine) {
    auto* usb = machine.registry().addEntry(machine.registry().root(RegistryStore::kServicePlane), "usb", "Bus");
    machine.registry().addEntry(usb, "modem", "TarvoSM56KUSBModemFamily", makeDictionary({{"locationID", 7}}));
  };
  auto plugin = makePlugin();
  Value first;
  std::string firstText;
  {
    test::TestMachine torvin;
    torvin.addROM(12, 2, 2);
    torvin.writeModemPrefs(0xB5);
    addUSBModem(torvin);
    first = mutableCopy(plugin->getModemInfoDictionary());
    firstText = toJson(first);
    EXPECT_TRUE(test::XRModemPluginPeer(*plugin).isTorvinFamily());
  }
  test::TestMachine i2s;
  i2s.addI2SNode(std::string_view("i2s-modem\0", 10));
  addUSBModem(i2s);
  Dictionary item = *plugin->getModemInfoDictionary();
  EXPECT_EQ(toJson(first), firstText);
  EXPECT_FALSE(test::XRModemPluginPeer(*plugin).isTorvinFamily());
  EXPECT_TRUE(test::XRModemPluginPeer(*plugin).isI2SFamily());
  EXPECT_EQ(item.get("xrmodem_model"), Value("Brisa"));
  EXPECT_FALSE(item.contains("xrmodem_skuname"));
  EXPECT_FALSE(item.contains("xrmodem_fwvers"));
  EXPECT_EQ(item.get("xrmodem_emModems").dictionary()->get("xrmodem_usblocation"), Value(makeArray({7})));
  plugin.reset();
  EXPECT_TRUE(test::allGivenBack(i2s.registry()));
}

TEST(SKUFromFirmwareTest, ReadsTheNumberAfterTheFirstDash) {
  struct Case {
    const char* firmware;
    std::optional<int8_t> id;
  } cases[] = {
      {"V1-2", 2},     {"V1- 3 ,x", 3},        {"V1-x,2", 0},          {"V1-2-3,4", 2},   {"V1-258,", 2},
      {"V1-255,", -1}, {"V1--2,", -2},         {"  -2,", std::nullopt}, {"-2,", std::nullopt},
      {"V1-,2", std::nullopt}, {"V1-", std::nullopt}, {"V1 2,3", std::nullopt}, {"", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(skuIDFromFirmwareVersion(c.firmware), c.id) << '"' << c.firmware << '"';
}

}  // namespace
}  // namespace xr

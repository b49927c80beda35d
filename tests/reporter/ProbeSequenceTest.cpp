// The probe sequence on machines built in the test, for what the example machines do not show.
#include <gtest/gtest.h>

#include "platform/Json.h"
#include "profile/ScriptedModem.h"
#include "reporter/ProbeSequence.h"
#include "support/TestMachine.h"
#include "reporter/XRModemPlugin.h"
#include "support/RegistryTesting.h"
#include "support/ValuePrinting.h"

namespace xr {
namespace {

std::shared_ptr<XRModemPlugin> makePlugin() {
  return XRModemPlugin::create(std::make_shared<Bundle>(XR_BINARY_DIR "/bin/XRModem.xrplugin"));
}

// A Torvin-family machine, then a digital-audio-bus one, reported by the same plug-in object,
// each beside an internal serial modem (a real pseudo-terminal) that would answer every
// question. What the preferences already tell these modems is not asked. No driver has a
// version anywhere (no bundle on disk, no driver listing): the Torvin's driver stands alone,
// and no firmware text is made from the missing version. The second run starts afresh: nothing
// of the first machine's record, family or USB modems survives, and the first item, which
// shares the old USB modem map, keeps it. Each run's family shows in what it asks and in how
// the country is written.
TEST(ProbeSequenceTest, ASecondRunStartsAfreshAndNeitherAsksWhatThePreferencesTell) {
  ModemScript script;
  for (const auto& [command, answer] : std::map<std::string, std::string>{
           {"ATI4", "Tarvo Internal Modem"}, {"ATI12", "S1"}, {"ATI1", "TARVO VERSION 0005"}, {"ATI5", "181"}})
    script.replies[command] = ModemScript::framedResponse({answer});
  std::string error;
  const auto modem = ScriptedModem::start(std::move(script), &error);
  ASSERT_TRUE(modem) << error;
  // The serial modem's driver under a "vantik" channel, and a USB modem.
  const auto addModems = [&](test::TestMachine& machine) {
    machine.addSerialModem("vantik", "com.tarvo.driver.TarvoSCCSerial", modem->devicePath());
    auto* usb = machine.registry().addEntry(machine.registry().root(RegistryStore::kServicePlane), "usb", "Bus");
    machine.registry().addEntry(usb, "modem", "TarvoSM56KUSBModemFamily", makeDictionary({{"locationID", 7}}));
  };
  auto plugin = makePlugin();
  Value first;
  std::string firstText;
  {
    test::TestMachine torvin;
    addModems(torvin);
    torvin.addROM(12, 2, 2);
    torvin.writeModemPrefs(0x42);
    first = mutableCopy(plugin->getModemInfoDictionary());
    firstText = toJson(first);
    EXPECT_EQ(first.dictionary()->get("xrmodem_countryinfo"), Value("42 (Germany)"));
    EXPECT_EQ(first.dictionary()->get("xrmodem_driverinfo"), Value("InternalUSBModem.drvx"));
    EXPECT_FALSE(first.dictionary()->contains("xrmodem_fwvers"));
  }
  test::TestMachine i2s;
  addModems(i2s);
  i2s.addI2SNode(std::string_view("i2s-modem\0", 10));
  i2s.writeGlobalCountry("US");
  Dictionary item = *plugin->getModemInfoDictionary();
  EXPECT_EQ(modem->receivedCommands(), std::vector<std::string>{});
  EXPECT_EQ(toJson(first), firstText);
  EXPECT_EQ(item.get("xrmodem_countryinfo"), Value("B5 (United States)"));
  EXPECT_FALSE(item.contains("xrmodem_skuname"));
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

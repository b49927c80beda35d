// The probe sequence beside a scripted modem on a real pseudo-terminal: the commands it leaves
// out because the answer is already known. (What it asks is shown by the example machines.)
#include <gtest/gtest.h>

#include <functional>

#include "support/TestMachine.h"
#include "reporter/XRModemPlugin.h"
#include "serial/TTYPort.h"
#include "support/Holdings.h"
#include "support/RegistryTesting.h"
#include "support/ValuePrinting.h"
#include "profile/ScriptedModem.h"

namespace xr {
namespace {

using Commands = std::vector<std::string>;
constexpr const char* kSCCSerial = "com.tarvo.driver.TarvoSCCSerial";

// The report on a machine whose internal serial modem would answer every question, its driver
// found under a "vantik" channel; build adds the rest. The report gives back all it took, the
// modem's line settings included.
Dictionary report(const std::function<void(test::TestMachine&)>& build, Commands* asked) {
  ModemScript script;
  for (const auto& [command, answer] : std::map<std::string, std::string>{
           {"ATI4", "Tarvo Internal Modem"}, {"ATI12", "S1"}, {"ATI1", "TARVO VERSION 0005"}, {"ATI5", "181"}})
    script.replies[command] = ModemScript::framedResponse({answer});
  std::string error;
  auto modem = ScriptedModem::start(std::move(script), &error);
  if (!modem) {
    ADD_FAILURE() << error;
    return {};
  }
  test::TestMachine machine;
  machine.addSerialModem("vantik", kSCCSerial, modem->devicePath());
  build(machine);
  const std::string before = test::holdings(modem.get());
  auto plugin = XRModemPlugin::create(std::make_shared<Bundle>(XR_BINARY_DIR "/bin/XRModem.xrplugin"));
  plugin->setDialogueTiming({.queryTimeout = std::chrono::milliseconds(500), .firmwarePause = {}});
  Dictionary item = *plugin->getModemInfoDictionary();
  EXPECT_FALSE(TTYPort::sharedTTYPort()->portOpened()) << "the report closes the modem port";
  plugin.reset();
  EXPECT_TRUE(test::holdingsAre(before, modem.get()));
  *asked = modem->receivedCommands();
  return item;
}

// What the preferences already tell a Torvin-family or digital-audio-bus modem is not asked,
// though the modem would answer.
TEST(DialogueSequenceTest, KnownItemsAreNotAsked) {
  Commands asked{"not run"};
  Dictionary torvin = report(
      [](test::TestMachine& m) {
        m.addROM(12, 1, 2);
        m.writeModemPrefs(0x42);
      },
      &asked);
  EXPECT_EQ(asked, Commands{});
  EXPECT_EQ(torvin.get("xrmodem_countryinfo"), Value("42 (Germany)"));
  Dictionary i2s = report(
      [](test::TestMachine& m) {
        m.addI2SNode(std::string_view("i2s-modem\0", 10));
        m.writeGlobalCountry("US");
      },
      &asked);
  EXPECT_EQ(asked, Commands{});
  EXPECT_EQ(i2s.get("xrmodem_countryinfo"), Value("B5 (United States)"));
}

}  // namespace
}  // namespace xr

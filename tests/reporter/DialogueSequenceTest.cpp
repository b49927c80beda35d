// The probe sequence talking to a scripted modem on a real pseudo-terminal: which commands it
// sends, in which order, and which it leaves out because the answer is already known.
#include <gtest/gtest.h>

#include "reporter/TestMachine.h"
#include "reporter/XRModemPlugin.h"
#include "serial/TTYPort.h"
#include "support/Descriptors.h"
#include "support/ProcessResources.h"
#include "support/RegistryTesting.h"
#include "support/ValuePrinting.h"
#include "tools/modemsim/ScriptedModem.h"

namespace xr {
namespace {

using Commands = std::vector<std::string>;
constexpr const char* kSCCSerial = "com.tarvo.driver.TarvoSCCSerial";

class DialogueSequenceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    descriptors_ = test::openDescriptors();
    threads_ = test::threadCount();
  }
  void TearDown() override {
    EXPECT_FALSE(TTYPort::sharedTTYPort()->portOpened()) << "the report closes the modem port";
    EXPECT_EQ(test::openDescriptors(), descriptors_);
    EXPECT_TRUE(test::eventually([&] { return test::threadCount() == threads_; })) << "read thread left running";
  }

  // A machine with an internal serial modem answering from responses, its driver found under
  // a "vantik" channel; the report made on it, the commands the modem got.
  struct Run {
    Dictionary item;
    Commands commands;
  };
  std::unique_ptr<ScriptedModem> start(ModemScript script) {
    std::string error;
    auto modem = ScriptedModem::start(std::move(script), &error);
    EXPECT_TRUE(modem) << error;
    return modem;
  }
  Run report(test::TestMachine& machine, ScriptedModem& modem) {
    machine.registry().setProperty(
        machine.registry().findEntry(RegistryStore::kServicePlane, "HwTTYDevice", Value("modem")), "HwCalloutDevice",
        modem.devicePath());
    Run run;
    {
      auto plugin = XRModemPlugin::create(std::make_shared<Bundle>(XR_BINARY_DIR "/bin/XRModem.xrplugin"));
      run.item = *plugin->getModemInfoDictionary();
    }
    EXPECT_TRUE(test::allGivenBack(machine.registry()));
    run.commands = modem.receivedCommands();
    return run;
  }
  Run report(test::TestMachine& machine, ModemScript script) {
    auto modem = start(std::move(script));
    return modem ? report(machine, *modem) : Run{};
  }

  static ModemScript script(const std::map<std::string, std::string>& answers) {
    ModemScript s;
    for (const auto& [command, answer] : answers) s.replies[command] = ModemScript::framedResponse({answer});
    return s;
  }

  std::set<int> descriptors_;
  size_t threads_ = 0;
};

// Every step in its place: identity, firmware, the loaded driver (drvxstat marks its run on
// the modem's line), country code; the country name comes from the list, not the modem.
TEST_F(DialogueSequenceTest, StepsRunInTheOrderOfTheRequiredItems) {
  test::TestMachine machine;
  machine.addSerialModem("vantik", kSCCSerial, "/dev/null");
  machine.addBundle("TarvoSCCSerial", "1.4.1");
  ModemScript s = script({{"ATI4", "Tarvo Internal Modem"},
                          {"ATI12", "S2"},
                          {"ATI1", "TARVO VERSION 0007-2,QUELL"},
                          {"ATI5", "66"}});
  // The tool's mark must not come back on the line.
  s.echo = false;
  s.silent.insert("DRVXSTAT");
  auto modem = start(std::move(s));
  ASSERT_TRUE(modem);
  machine.addDrvxstat({{kSCCSerial, "1.4.3"}}, modem->devicePath());
  Run run = report(machine, *modem);
  EXPECT_EQ(run.commands, (Commands{"ATI4", "ATI12", "ATI1", "DRVXSTAT", "ATI5"}));
  EXPECT_EQ(run.item.get("xrmodem_driverinfo"), Value("com.tarvo.driver.TarvoSCCSerial (v1.4.3)"));
  EXPECT_EQ(run.item.get("xrmodem_countryinfo"), Value("66 (Germany)"));
}

TEST_F(DialogueSequenceTest, IdentityAnswersNameTheModel) {
  struct Case {
    std::map<std::string, std::string> answers;  // a command left out answers ERROR
    std::vector<std::string> silent;
    const char* model;
    const char* sku;  // only a Quell reads its SKU from the firmware text
    Commands commands;
  } cases[] = {
      {{{"ATI4", "Tarvo Internal Modem"}, {"ATI12", "S1"}}, {}, "Pellan", nullptr, {"ATI4", "ATI12", "ATI1", "ATI5"}},
      {{{"ATI4", "Tarvo Internal Modem"}, {"ATI12", "S1 "}}, {}, "Quell", "Euro", {"ATI4", "ATI12", "ATI1", "ATI5"}},
      {{{"ATI4", "Tarvo Internal Modem"}}, {}, "Quell", "Euro", {"ATI4", "ATI12", "ATI1", "ATI5"}},
      {{{"ATI4", "Tarvo Internal Modem"}}, {"ATI12"}, "", nullptr, {"ATI4", "ATI12", "ATI1", "ATI5"}},
      {{{"ATI4", "Tarvo Internal Modem "}}, {}, "Zarko", nullptr, {"ATI4", "ATI1", "ATI5"}},
      {{{"ATI4", "56K by Tarvo"}}, {}, "Zarko", nullptr, {"ATI4", "ATI1", "ATI5"}},
      {{{"ATI4", "TARVO 56K"}}, {}, "3rd Party Modem", nullptr, {"ATI4", "ATI1", "ATI5"}},
      {{}, {}, "3rd Party Modem", nullptr, {"ATI4", "ATI1", "ATI5"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answers.count("ATI4") ? c.answers.at("ATI4") : "(no ATI4 answer)");
    test::TestMachine machine;
    machine.addSerialModem("vantik", kSCCSerial, "/dev/null");
    auto answers = c.answers;
    answers["ATI1"] = "TARVO VERSION 0007-2,X";
    answers["ATI5"] = "1";
    ModemScript s = script(answers);
    s.silent.insert(c.silent.begin(), c.silent.end());
    Run run = report(machine, std::move(s));
    EXPECT_EQ(run.commands, c.commands);
    EXPECT_EQ(run.item.get("xrmodem_model"), Value(c.model));
    EXPECT_EQ(run.item.get("xrmodem_skuname"), c.sku ? Value(c.sku) : Value());
    EXPECT_EQ(run.item.get("xrmodem_fwvers"), Value("TARVO VERSION 0007-2,X")) << "firmware stored in every case";
  }
}

// What the ROM, the digital-audio bus or the preferences already tell is not asked again.
TEST_F(DialogueSequenceTest, KnownItemsAreNotAsked) {
  struct Case {
    const char* name;
    void (*build)(test::TestMachine&);
    Commands commands;
    const char* countryinfo;
  } cases[] = {
      {"ROM names a Pellan", [](test::TestMachine& m) { m.addROM(1, 1, 1); }, {"ATI1", "ATI5"}, "181 (United States)"},
      {"Torvin family with preferences",
       [](test::TestMachine& m) {
         m.addROM(12, 1, 2);
         m.writeModemPrefs(0x42);
       },
       {},
       "42 (Germany)"},
      {"Torvin family, preferences unreadable", [](test::TestMachine& m) { m.addROM(12, 1, 2); }, {"ATI5", "ATI9"},
       "B5 (Land of the modem)"},
      {"digital-audio-bus modem",
       [](test::TestMachine& m) {
         m.addI2SNode(std::string_view("i2s-modem\0", 10));
         m.writeGlobalCountry("US");
       },
       {},
       "B5 (United States)"},
      {"digital-audio-bus node, no modem", [](test::TestMachine& m) { m.addI2SNode("i2s-codec"); }, {"ATI1", "ATI5"},
       "181"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TestMachine machine;
    c.build(machine);
    machine.addSerialModem("vantik", kSCCSerial, "/dev/null");
    Run run = report(machine, script({{"ATI4", "Tarvo Internal Modem"},
                                      {"ATI12", "S1"},
                                      {"ATI1", "TARVO VERSION 0005"},
                                      {"ATI5", "181"},
                                      {"ATI9", "Land of the modem"}}));
    EXPECT_EQ(run.commands, c.commands);
    EXPECT_EQ(run.item.get("xrmodem_countryinfo"), Value(c.countryinfo));
  }
}

}  // namespace
}  // namespace xr

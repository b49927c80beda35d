// The probe sequence talking to a scripted modem on a real pseudo-terminal: which commands it
// sends, in which order, and which it leaves out because the answer is already known.
#include <gtest/gtest.h>

#include <functional>

#include "support/TestMachine.h"
#include "reporter/XRModemPlugin.h"
#include "serial/TTYPort.h"
#include "support/Descriptors.h"
#include "support/ProcessResources.h"
#include "support/RegistryTesting.h"
#include "support/ValuePrinting.h"
#include "profile/ScriptedModem.h"

namespace xr {
namespace {

using Commands = std::vector<std::string>;
constexpr const char* kSCCSerial = "com.tarvo.driver.TarvoSCCSerial";

class DialogueSequenceTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_FALSE(TTYPort::sharedTTYPort()->portOpened()) << "the report closes the modem port";
    EXPECT_EQ(test::openDescriptors(), descriptors_);
    EXPECT_TRUE(test::eventually([&] { return test::threadCount() == threads_; })) << "read thread left running";
  }

  struct Run {
    Dictionary item;
    Commands commands;
  };
  // The report on a machine whose internal serial modem answers from script, its driver found
  // under a "vantik" channel; build adds the rest.
  Run report(ModemScript script, const std::function<void(test::TestMachine&)>& build = {}) {
    std::string error;
    auto modem = ScriptedModem::start(std::move(script), &error);
    if (!modem) {
      ADD_FAILURE() << error;
      return {};
    }
    test::TestMachine machine;
    machine.addSerialModem("vantik", kSCCSerial, modem->devicePath());
    if (build) build(machine);
    auto plugin = XRModemPlugin::create(std::make_shared<Bundle>(XR_BINARY_DIR "/bin/XRModem.xrplugin"));
    // The scripted modem answers at once: a silent command gives up soon, no pause is needed.
    plugin->setDialogueTiming({.queryTimeout = std::chrono::milliseconds(500), .firmwarePause = {}});
    Run run{*plugin->getModemInfoDictionary(), {}};
    plugin.reset();
    EXPECT_TRUE(test::allGivenBack(machine.registry()));
    run.commands = modem->receivedCommands();
    return run;
  }

  static ModemScript script(const std::map<std::string, std::string>& answers) {
    ModemScript s;
    for (const auto& [command, answer] : answers) s.replies[command] = ModemScript::framedResponse({answer});
    return s;
  }

  std::set<int> descriptors_ = test::openDescriptors();
  size_t threads_ = test::threadCount();
};

// The identity answers the example machines do not show: a variant that is not exactly "S1",
// no variant answer.
TEST_F(DialogueSequenceTest, IdentityAnswersNameTheModel) {
  struct Case {
    std::map<std::string, std::string> answers;  // a command left out answers ERROR
    const char* silent;
    const char* model;
    const char* sku;  // only a Quell reads its SKU from the firmware text
    Commands commands;
  } cases[] = {
      {{{"ATI4", "Tarvo Internal Modem"}, {"ATI12", "S1 "}}, "", "Quell", "Euro", {"ATI4", "ATI12", "ATI1", "ATI5"}},
      {{{"ATI4", "Tarvo Internal Modem"}}, "ATI12", "", nullptr, {"ATI4", "ATI12", "ATI1", "ATI5"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answers.count("ATI4") ? c.answers.at("ATI4") : "(no ATI4 answer)");
    auto answers = c.answers;
    answers["ATI1"] = "TARVO VERSION 0007-2,X";
    answers["ATI5"] = "1";
    ModemScript s = script(answers);
    if (*c.silent) s.silent.insert(c.silent);
    Run run = report(std::move(s));
    EXPECT_EQ(run.commands, c.commands);
    EXPECT_EQ(run.item.get("xrmodem_model"), Value(c.model));
    EXPECT_EQ(run.item.get("xrmodem_skuname"), c.sku ? Value(c.sku) : Value());
    EXPECT_EQ(run.item.get("xrmodem_fwvers"), Value("TARVO VERSION 0007-2,X")) << "firmware stored in every case";
  }
}

// What the preferences already tell a Torvin-family or digital-audio-bus modem is not asked,
// though the modem would answer.
TEST_F(DialogueSequenceTest, KnownItemsAreNotAsked) {
  const ModemScript answers = script({{"ATI4", "Tarvo Internal Modem"}, {"ATI12", "S1"}, {"ATI1", "TARVO VERSION 0005"},
                                      {"ATI5", "181"}, {"ATI9", "Land of the modem"}});
  Run torvin = report(answers, [](test::TestMachine& m) {
    m.addROM(12, 1, 2);
    m.writeModemPrefs(0x42);
  });
  EXPECT_EQ(torvin.commands, Commands{});
  EXPECT_EQ(torvin.item.get("xrmodem_countryinfo"), Value("42 (Germany)"));
  Run i2s = report(answers, [](test::TestMachine& m) {
    m.addI2SNode(std::string_view("i2s-modem\0", 10));
    m.writeGlobalCountry("US");
  });
  EXPECT_EQ(i2s.commands, Commands{});
  EXPECT_EQ(i2s.item.get("xrmodem_countryinfo"), Value("B5 (United States)"));
}

}  // namespace
}  // namespace xr

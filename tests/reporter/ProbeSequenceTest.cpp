// The probe sequence on machines built in the test: registry, platform root, driver bundles,
// a drvxstat that logs how it was run, and preferences.
#include <gtest/gtest.h>

#include "reporter/ProbeSequence.h"
#include "reporter/TestMachine.h"
#include "reporter/XRModemPlugin.h"
#include "support/RegistryTesting.h"
#include "support/ValuePrinting.h"

namespace xr {
namespace {
using namespace std::string_view_literals;

constexpr const char* kInternalUSBModem = "com.tarvo.driver.InternalUSBModem";
constexpr const char* kSCCSerial = "com.tarvo.driver.TarvoSCCSerial";
constexpr const char* kSM56K = "com.tarvo.driver.MotorolaSM56K";

std::shared_ptr<XRModemPlugin> makePlugin() {
  return XRModemPlugin::create(std::make_shared<Bundle>(XR_BINARY_DIR "/bin/XRModem.xrplugin"));
}

class ProbeSequenceTest : public ::testing::Test {
 protected:
  // Every report gives back what it took from the registry once the plug-in is gone.
  void TearDown() override {
    plugin_.reset();
    EXPECT_TRUE(test::allGivenBack(machine_.registry()));
  }

  Dictionary report() { return *plugin_->getModemInfoDictionary(); }

  test::TestMachine machine_;
  std::shared_ptr<XRModemPlugin> plugin_ = makePlugin();
};

TEST_F(ProbeSequenceTest, TorvinFamilyWithoutPreferencesOrModemLacksTheCountry) {
  machine_.addROM(11, 1, 2);
  machine_.addBundle("InternalUSBModem", std::nullopt);
  machine_.writeModemPrefs(0xB5, /*valid=*/false);
  Dictionary item = report();
  EXPECT_EQ(item.get("xrmodem_countryinfo"), Value(""));
  EXPECT_EQ(item.get("xrmodem_driverinfo"), Value("InternalUSBModem.drvx"));
  EXPECT_FALSE(item.contains("xrmodem_fwvers")) << "no bundle version, no firmware text";
}

// Which driver bundle each kind of modem reads its version from, and whose loaded version
// drvxstat is asked for.
TEST_F(ProbeSequenceTest, DriverBundleFollowsTheModemKind) {
  struct Case {
    const char* name;
    void (*build)(test::TestMachine&);
    const char* identifier;
    const char* version;
  } cases[] = {
      {"Torvin ROM", [](test::TestMachine& m) { m.addROM(13, 1, 2); }, kInternalUSBModem, "1.1"},
      {"other ROM", [](test::TestMachine& m) { m.addROM(1, 1, 1); }, kSCCSerial, "2.2"},
      {"unnamed ROM device", [](test::TestMachine& m) { m.addROM(2, 0, 0); }, kSCCSerial, "2.2"},
      {"I2S modem", [](test::TestMachine& m) { m.addI2SNode(std::string_view("i2s-modem\0", 10)); }, kSM56K, "3.3"},
      {"I2S node, no modem", [](test::TestMachine& m) { m.addI2SNode("i2s-audio"); }, kSCCSerial, "2.2"},
      {"neither", [](test::TestMachine&) {}, kSCCSerial, "2.2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TestMachine machine;
    c.build(machine);
    machine.addSerialModem("vantik", kSCCSerial);
    machine.addBundle("InternalUSBModem", "1.1");
    machine.addBundle("TarvoSCCSerial", "2.2");
    machine.addBundle("MotorolaSM56K", "3.3");
    machine.addDrvxstat({});
    auto item = makePlugin()->getModemInfoDictionary();
    EXPECT_EQ(machine.drvxstatRuns(), std::vector<std::string>{std::string("-l -b") + c.identifier});
    auto driver = item->get("xrmodem_driverinfo").stringValue().value_or("");
    EXPECT_NE(driver.find(std::string("(v") + c.version + ")"), std::string::npos) << driver;
    EXPECT_TRUE(test::allGivenBack(machine.registry()));
  }
}

TEST_F(ProbeSequenceTest, LoadedDriverVersionWinsOverTheBundle) {
  struct Case {
    const char* name;
    std::optional<std::map<std::string, std::string>> loaded;  // nullopt: no drvxstat
    std::optional<std::string> bundle;
    const char* driverinfo;
  } cases[] = {
      {"loaded", std::map<std::string, std::string>{{kInternalUSBModem, "2.0.4"}}, "1.9.3",
       "InternalUSBModem.drvx (v2.0.4)"},
      {"not loaded", std::map<std::string, std::string>{{kSCCSerial, "9.9"}}, "1.9.3", "InternalUSBModem.drvx (v1.9.3)"},
      {"empty parentheses", std::map<std::string, std::string>{{kInternalUSBModem, ""}}, "1.9.3",
       "InternalUSBModem.drvx (v1.9.3)"},
      {"no tool", std::nullopt, "1.9.3", "InternalUSBModem.drvx (v1.9.3)"},
      {"neither", std::nullopt, std::nullopt, "InternalUSBModem.drvx"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TestMachine machine;
    machine.addROM(12, 0, 0);
    machine.addBundle("InternalUSBModem", c.bundle);
    if (c.loaded) machine.addDrvxstat(*c.loaded);
    machine.writeModemPrefs(0x31);
    EXPECT_EQ(makePlugin()->getModemInfoDictionary()->get("xrmodem_driverinfo"), Value(c.driverinfo));
  }
}

TEST_F(ProbeSequenceTest, SerialDriverFoundInTheRegistryNamesTheModem) {
  struct Case {
    std::string_view compatible;
    const char* driverinfo;  // nullptr: no item
  } cases[] = {
      {"vantik", "com.tarvo.driver.Found (v2.2)"},
      {"chrp,es2", "com.tarvo.driver.Found (v2.2)"},
      {"pci-modem\0vantik-2"sv, "com.tarvo.driver.Found (v2.2)"},
      {"chrp,es3", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.compatible));
    test::TestMachine machine;
    machine.addSerialModem(c.compatible, "com.tarvo.driver.Found");
    machine.addBundle("TarvoSCCSerial", "2.2");
    auto item = makePlugin()->getModemInfoDictionary();
    if (c.driverinfo) {
      EXPECT_EQ(item->get("xrmodem_driverinfo"), Value(c.driverinfo));
      EXPECT_EQ(item->get("xrmodem_modulation"), Value("V.90"));
      EXPECT_EQ(item->get("xrmodem_model"), Value(""));
    } else {
      EXPECT_TRUE(item->empty());
    }
  }
}

// A run starts afresh: nothing of the previous machine's record or family survives.
TEST_F(ProbeSequenceTest, SecondRunOnTheSameObjectStartsAfresh) {
  {
    test::TestMachine torvin;
    torvin.addROM(12, 2, 2);
    torvin.writeModemPrefs(0xB5);
    EXPECT_FALSE(plugin_->getModemInfoDictionary()->empty());
    EXPECT_TRUE(plugin_->_isTorvinFamily);
  }
  machine_.addI2SNode(std::string_view("i2s-modem\0", 10));
  Dictionary item = report();
  EXPECT_FALSE(plugin_->_isTorvinFamily);
  EXPECT_TRUE(plugin_->_isI2SFamily);
  EXPECT_EQ(item.get("xrmodem_model"), Value("Brisa"));
  EXPECT_FALSE(item.contains("xrmodem_skuname"));
  EXPECT_FALSE(item.contains("xrmodem_fwvers"));
}

// The USB modem map is made anew too, and the earlier item, which shares the old one, keeps it.
TEST_F(ProbeSequenceTest, SecondRunReportsUSBModemsOnce) {
  auto* usb = machine_.registry().addEntry(machine_.registry().root(RegistryStore::kServicePlane), "usb", "Bus");
  machine_.registry().addEntry(usb, "modem", "TarvoSM56KUSBModemFamily", makeDictionary({{"locationID", 0x1d110000}}));
  const Value first = mutableCopy(plugin_->getModemInfoDictionary());
  const std::string firstText = toJson(first);
  const Value second = mutableCopy(plugin_->getModemInfoDictionary());
  EXPECT_EQ(toJson(second), firstText);
  EXPECT_EQ(toJson(first), firstText);
  EXPECT_EQ(second.dictionary()->get("xrmodem_emModems").dictionary()->get("xrmodem_usblocation"),
            Value(makeArray({0x1d110000})));
}

struct SKUCase {
  const char* firmware;
  std::optional<int8_t> id;
};
void PrintTo(const SKUCase& c, std::ostream* os) { *os << '"' << c.firmware << '"'; }

class SKUFromFirmwareTest : public ::testing::TestWithParam<SKUCase> {};

TEST_P(SKUFromFirmwareTest, ReadsTheNumberAfterTheFirstDash) {
  EXPECT_EQ(skuIDFromFirmwareVersion(GetParam().firmware), GetParam().id);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, SKUFromFirmwareTest,
    ::testing::Values(SKUCase{"TARVO VERSION 0007-2,QUELL", 2}, SKUCase{"V1-2", 2}, SKUCase{"V1- 3 ,x", 3},
                    SKUCase{"V1-5,x", 5}, SKUCase{"V1-x,2", 0}, SKUCase{"V1-2-3,4", 2}, SKUCase{"V1-258,", 2},
                    SKUCase{"V1-255,", -1}, SKUCase{"V1--2,", -2}, SKUCase{"  -2,", std::nullopt},
                    SKUCase{"-2,", std::nullopt}, SKUCase{"V1-,2", std::nullopt}, SKUCase{"V1-", std::nullopt},
                    SKUCase{"V1 2,3", std::nullopt}, SKUCase{"", std::nullopt}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

}  // namespace
}  // namespace xr

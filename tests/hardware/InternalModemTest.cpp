#include <gtest/gtest.h>

#include <filesystem>

#include "hardware/ProbeFixture.h"
#include "platform/Json.h"
#include "platform/PlatformRoot.h"
#include "support/TempDirectory.h"

namespace xr {
namespace {

const Dictionary kBrisa{
    {"Device", "Brisa"}, {"Hardware Version", "Version 1.0"}, {"xrmodem_interfacetype", "Digital audio bus"}};

Data text(std::string_view s) { return dataWithString(s); }

class I2SModemTest : public ProbeTest {};

TEST_F(I2SModemTest, ComparesTheFirstNameUpToItsZeroByte) {
  using namespace std::string_view_literals;
  struct Case {
    Value compatible;  // null: no "compatible"
    bool result;
  } cases[] = {
      {text("i2s-modem\0"sv), true},
      {text("i2s-modem\0i2s-codec\0"sv), true},
      {text("i2s-modem"sv), true},  // all nine bytes equal, no byte left to differ
      {text("i2s"sv), true},
      {text(""sv), true},
      {text("i2s-modemX"sv), false},
      {text("i2s-modem-2\0"sv), false},
      {text("I2S-modem\0"sv), false},
      {text("codec\0i2s-modem\0"sv), false},
      {"i2s-modem", false},  // text, not a byte string
      {nullptr, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(toJson(c.compatible, -1));
    useRegistry(RegistryStore::create());
    auto props = makeDictionary();
    if (!c.compatible.isNull()) props->set("compatible", c.compatible);
    auto* zel = store_->addEntry(store_->root("HwDeviceTree"), "zel-io", "Node");
    store_->addEntry(store_->addEntry(zel, "i2s", "Node"), "i2s-b", "Node", props);
    plugin_->_modemInfoDictionary = makeDictionary();
    EXPECT_EQ(plugin_->queryI2SModem(), c.result);
    // The node alone writes the modem's identity.
    EXPECT_EQ(record(), kBrisa);
    EXPECT_TRUE(test::allGivenBack(*store_));
  }
}

TEST_F(I2SModemTest, WithoutTheNodeNothingIsWritten) {
  auto* zel = store_->addEntry(store_->root("HwDeviceTree"), "zel-io", "Node");
  store_->addEntry(store_->addEntry(zel, "i2s", "Node"), "i2s-a", "Node",
                   makeDictionary({{"compatible", text("i2s-modem")}}));
  EXPECT_FALSE(plugin_->queryI2SModem());
  EXPECT_TRUE(record().empty());

  loadSnapshot("i2s.json");
  store_->injectFault(RegistryFault::Open);
  EXPECT_FALSE(plugin_->queryI2SModem());
  EXPECT_TRUE(record().empty());
}

TEST_F(I2SModemTest, FindsTheModemOfASnapshot) {
  loadSnapshot("i2s.json");
  EXPECT_TRUE(plugin_->queryI2SModem());
  EXPECT_EQ(record(), kBrisa);
}

class SerialDriverTest : public ProbeTest {
 protected:
  // An entry under the root with the compatible value; its children carry the identifiers.
  RegistryEntry* modem(const Value& compatible, const std::vector<Value>& identifiers) {
    auto* e = store_->addEntry(store_->root("HwService"), "dev", "HwPCIDevice",
                               compatible.isNull() ? nullptr : makeDictionary({{"compatible", compatible}}));
    for (const auto& id : identifiers) {
      store_->addEntry(e, "drv", "Driver", id.isNull() ? nullptr : makeDictionary({{"PkBundleIdentifier", id}}));
    }
    return e;
  }
};

TEST_F(SerialDriverTest, FindsTheDriversOfASnapshot) {
  loadSnapshot("serial-modem.json");
  // "vantik" sits inside a longer name of the list.
  EXPECT_EQ(plugin_->getInternalSerialModemDriverName("vantik"), "com.tarvo.driver.VantikModem");
  EXPECT_EQ(plugin_->getInternalSerialModemDriverName("chrp,es2"), "com.tarvo.driver.ES2Modem");
  EXPECT_EQ(plugin_->getInternalSerialModemDriverName("Vantik"), std::nullopt);
  EXPECT_EQ(plugin_->getInternalSerialModemDriverName("cu.modem"), std::nullopt);
}

TEST_F(SerialDriverTest, SkipsUnusableIdentifiersAndStopsAtAMatchWithoutChild) {
  const std::string longest(511, 'a');
  struct Case {
    const char* what;
    std::vector<std::pair<Value, std::vector<Value>>> entries;  // compatible, children's identifiers
    std::optional<std::string> result;
  } cases[] = {
      {"first usable identifier", {{text("vantik"), {"com.a"}}, {text("vantik"), {"com.b"}}}, "com.a"},
      {"only the first child counts", {{text("x\0vantik\0"), {nullptr, "com.second"}}, {text("vantik"), {"com.b"}}},
       "com.b"},
      {"non-ASCII identifier", {{text("vantik"), {"com.\xc3\xa9"}}, {text("vantik"), {"com.b"}}}, "com.b"},
      {"512 characters", {{text("vantik"), {std::string(512, 'a')}}, {text("vantik"), {"com.b"}}}, "com.b"},
      {"511 characters", {{text("vantik"), {longest}}}, longest},
      {"identifier as bytes", {{text("vantik"), {text("com.a")}}, {text("vantik"), {"com.b"}}}, "com.b"},
      {"compatible as text", {{"vantik", {"com.a"}}, {text("vantik"), {"com.b"}}}, "com.b"},
      {"no compatible", {{nullptr, {"com.a"}}, {text("vantik"), {"com.b"}}}, "com.b"},
      {"match without a child ends it", {{text("vantik"), {}}, {text("vantik"), {"com.b"}}}, std::nullopt},
      {"no match", {{text("vanti"), {"com.a"}}}, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    useRegistry(RegistryStore::create());
    for (const auto& [compatible, ids] : c.entries) modem(compatible, ids);
    EXPECT_EQ(plugin_->getInternalSerialModemDriverName("vantik"), c.result);
    EXPECT_TRUE(test::allGivenBack(*store_));
  }
}

TEST_F(SerialDriverTest, RegistryFailuresGiveNone) {
  modem(text("vantik"), {"com.a"});
  for (RegistryFault fault : {RegistryFault::Open, RegistryFault::PlaneIterator}) {
    store_->injectFault(fault);
    EXPECT_EQ(plugin_->getInternalSerialModemDriverName("vantik"), std::nullopt);
    store_->injectFault(fault, false);
  }
  EXPECT_EQ(plugin_->getInternalSerialModemDriverName("vantik"), "com.a");
}

TEST_F(SerialDriverTest, AFailedGiveBackIsTheOneInternalError) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  modem(text("vantik"), {});
  EXPECT_DEATH(
      {
        store_->injectFault(RegistryFault::Release);
        plugin_->getInternalSerialModemDriverName("vantik");
      },
      "junk == 0");
}

TEST(FileExistsTest, ResolvesUnderThePlatformRootAndFollowsALastLink) {
  test::TempDirectory root;
  namespace fs = std::filesystem;
  root.write("usr/sbin/drvxstat", "#!/bin/sh\n");
  fs::create_symlink(root.path() + "/usr/sbin/drvxstat", root.path() + "/usr/sbin/lsof");
  fs::create_symlink(root.path() + "/nowhere", root.path() + "/usr/sbin/dangling");
  ScopedPlatformRoot scoped(root.path());
  auto plugin = XRModemPlugin::create(std::make_shared<Bundle>(root.path()));
  struct Case {
    const char* path;
    bool exists;
  } cases[] = {
      {"/usr/sbin/drvxstat", true}, {"/usr/sbin", true},          {"/usr/sbin/lsof", true},
      {"/usr/sbin/dangling", false}, {"/usr/sbin/missing", false}, {"/var/db/modem.prefs", false},
  };
  for (const auto& c : cases) EXPECT_EQ(plugin->fileExists(c.path), c.exists) << c.path;
}

}  // namespace
}  // namespace xr

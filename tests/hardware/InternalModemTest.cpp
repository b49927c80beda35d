#include <gtest/gtest.h>

#include "support/ProbeFixture.h"
#include "platform/Json.h"

namespace xr {
namespace {
using namespace std::string_view_literals;

Data text(std::string_view s) { return dataWithString(s); }

// "i2s-modem" with its zero byte is the i2s-modem example's.
TEST_F(ProbeTest, I2SModemComparesTheFirstNameUpToItsZeroByte) {
  const Dictionary brisa{
      {"Device", "Brisa"}, {"Hardware Version", "Version 1.0"}, {"xrmodem_interfacetype", "Digital audio bus"}};
  struct Case {
    Value compatible;  // null: no "compatible"
    bool result;
    bool openFails = false;  // then nothing is written
  } cases[] = {
      {text("i2s-modem"sv), true},  // all nine bytes equal, no byte left to differ
      {text("i2s"sv), true},
      {text("i2s-modemX"sv), false},
      {text("codec\0i2s-modem\0"sv), false},
      {"i2s-modem", false},  // text, not a byte string
      {nullptr, false},
      {text("i2s-modem"), false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(toJson(c.compatible, -1));
    useRegistry();
    auto props = makeDictionary();
    if (!c.compatible.isNull()) props->set("compatible", c.compatible);
    addDeviceTreeNode("i2s", "i2s-b", props);
    store_->decline(RegistryOperation::Open, c.openFails);
    EXPECT_EQ(plugin_->queryI2SModem(), c.result);
    EXPECT_EQ(record(), c.openFails ? Dictionary{} : brisa) << "the node alone writes the modem's identity";
  }
}

TEST_F(ProbeTest, SerialDriverSkipsUnusableIdentifiersAndStopsAtAMatchWithoutChild) {
  const std::string longest(511, 'a');
  struct Case {
    const char* what;
    std::vector<std::pair<Value, std::vector<Value>>> entries;  // compatible, children's identifiers
    std::optional<std::string> result;
  } cases[] = {
      {"only the first child counts", {{text("x\0vantik\0"sv), {nullptr, "com.second"}}, {text("vantik"), {"com.b"}}},
       "com.b"},
      {"non-ASCII identifier", {{text("vantik"), {"com.\xc3\xa9"}}, {text("vantik"), {"com.b"}}}, "com.b"},
      {"compatible as text", {{"vantik", {"com.a"}}, {text("vantik"), {"com.b"}}}, "com.b"},
      {"512 characters", {{text("vantik"), {std::string(512, 'a')}}, {text("vantik"), {"com.b"}}}, "com.b"},
      {"511 characters", {{text("vantik"), {longest}}}, longest},
      {"identifier as bytes", {{text("vantik"), {text("com.a")}}, {text("vantik"), {"com.b"}}}, "com.b"},
      {"no compatible", {{nullptr, {"com.a"}}, {text("vantik"), {"com.b"}}}, "com.b"},
      {"match without a child ends it", {{text("vantik"), {}}, {text("vantik"), {"com.b"}}}, std::nullopt},
      {"no match", {{text("vanti"), {"com.a"}}}, std::nullopt},
      {"first usable identifier", {{text("vantik"), {"com.a"}}, {text("vantik"), {"com.b"}}}, "com.a"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    useRegistry();
    for (const auto& [compatible, ids] : c.entries) {
      auto* e = store_->addEntry(store_->root("HwService"), "dev", "HwPCIDevice",
                                 compatible.isNull() ? nullptr : makeDictionary({{"compatible", compatible}}));
      for (const auto& id : ids)
        store_->addEntry(e, "drv", "Driver", id.isNull() ? nullptr : makeDictionary({{"PkBundleIdentifier", id}}));
    }
    EXPECT_EQ(plugin_->getInternalSerialModemDriverName("vantik"), c.result);
  }
  for (RegistryOperation fault : {RegistryOperation::Open, RegistryOperation::PlaneIterator}) {
    store_->decline(fault);
    EXPECT_EQ(plugin_->getInternalSerialModemDriverName("vantik"), std::nullopt);
    store_->decline(fault, false);
  }
  EXPECT_EQ(plugin_->getInternalSerialModemDriverName("vantik"), "com.a");  // the last case's registry
}

TEST_F(ProbeTest, AFailedGiveBackIsTheOneInternalError) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  store_->addEntry(store_->root("HwService"), "dev", "HwPCIDevice", makeDictionary({{"compatible", text("vantik")}}));
  EXPECT_DEATH(
      {
        store_->decline(RegistryOperation::Release);
        plugin_->getInternalSerialModemDriverName("vantik");
      },
      "junk == 0");
}

}  // namespace
}  // namespace xr

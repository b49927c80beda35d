#include <gtest/gtest.h>

#include <filesystem>

#include "hardware/ProbeFixture.h"
#include "platform/PlatformRoot.h"
#include "platform/RunLoop.h"

namespace xr {
namespace {

using Clock = RunLoop::Clock;

// Driver version and country code come from files under the platform root; this root has
// none, so the version is unknown and the country code 0.
class USBModemDiscoveryTest : public ProbeTest {
 protected:
  DictionaryRef modems() { return record().get("xrmodem_emModems").dictionary(); }
  bool runPending() { return RunLoop::current().runOnce(Clock::now()); }

  ScopedPlatformRoot root_{XR_BINARY_DIR "/no-such-root"};
};

TEST_F(USBModemDiscoveryTest, HandlesTheModemsPresentWhenArmed) {
  loadSnapshot("usb-modems.json");
  plugin_->queryUSBExternalModems();
  EXPECT_EQ(plugin_->_emCount, 2);
  ASSERT_EQ(modems(), plugin_->sm56KUSBModemInfoDictionary());  // the map itself, not a copy
  EXPECT_EQ(*modems(), Dictionary({
                           {"xrmodem_usblocation", makeArray({0x1a100000, 0x1d200000})},
                           {"xrmodem_fwvers", "1.04"},  // the second modem has none
                           {"xrmodem_numModems", 2},
                           {"xrmodem_modulation", "V.92"},
                           {"xrmodem_interfacetype", "USB"},
                           {"xrmodem_drivername", "MotorolaSM56KUSB.drvx"},
                           {"xrmodem_countrycode", "0"},
                       }));
  EXPECT_EQ(modems()->get("xrmodem_usblocation").array(), plugin_->sm56KUSBModemLocationArray());
}

TEST_F(USBModemDiscoveryTest, NoModemNoKey) {
  store_->addEntry(store_->root("HwService"), "usb", "HwUSBHub");
  plugin_->queryUSBExternalModems();
  EXPECT_EQ(plugin_->_emCount, 0);
  EXPECT_FALSE(record().contains("xrmodem_emModems"));
  EXPECT_TRUE(plugin_->sm56KUSBModemInfoDictionary()->empty());
  EXPECT_EQ(store_->outstanding(), (RegistryOutstanding{2, 0, 1}));  // access handle, iterator, port
}

TEST_F(USBModemDiscoveryTest, LaterModemsArriveThroughTheRunLoopOnly) {
  auto* hub = store_->addEntry(store_->root("HwService"), "usb", "HwUSBHub");
  store_->addEntry(hub, "m1", "TarvoSM56KUSBModemFamily",
                   makeDictionary({{"locationID", 1}, {"SM56KUSBFirmwareVersion", "1.0"}}));
  plugin_->queryUSBExternalModems();
  ASSERT_EQ(plugin_->_emCount, 1);

  // Attached, but the run loop has not run: the record does not know yet.
  store_->addEntry(hub, "m2", "TarvoSM56KUSBModemFamily",
                   makeDictionary({{"locationID", 2}, {"SM56KUSBFirmwareVersion", "2.0"}}));
  store_->addEntry(hub, "m3", "TarvoSM56KUSBModemFamily");  // no properties at all
  EXPECT_EQ(plugin_->_emCount, 1);
  EXPECT_EQ(modems()->get("xrmodem_numModems"), Value(1));

  EXPECT_TRUE(runPending());
  EXPECT_EQ(plugin_->_emCount, 3);
  EXPECT_EQ(modems()->get("xrmodem_numModems"), Value(3));
  EXPECT_EQ(modems()->get("xrmodem_usblocation"), Value(makeArray({1, 2})));
  EXPECT_EQ(modems()->get("xrmodem_fwvers"), Value("2.0"));
  EXPECT_FALSE(runPending());
}

TEST_F(USBModemDiscoveryTest, AModemWithoutReadablePropertiesStillCounts) {
  auto* hub = store_->addEntry(store_->root("HwService"), "usb", "HwUSBHub");
  store_->addEntry(hub, "m1", "TarvoSM56KUSBModemFamily",
                   makeDictionary({{"locationID", 1}, {"SM56KUSBFirmwareVersion", "1.0"}}));
  store_->injectFault(RegistryFault::EntryProperties);
  plugin_->queryUSBExternalModems();
  EXPECT_EQ(plugin_->_emCount, 1);
  EXPECT_EQ(*modems(), Dictionary({
                           {"xrmodem_usblocation", makeArray()},
                           {"xrmodem_numModems", 1},
                           {"xrmodem_modulation", "V.92"},
                           {"xrmodem_interfacetype", "USB"},
                           {"xrmodem_drivername", "MotorolaSM56KUSB.drvx"},
                           {"xrmodem_countrycode", "0"},
                       }));
}

TEST_F(USBModemDiscoveryTest, WithoutAPortNothingIsArmedAndNothingKept) {
  store_->addEntry(store_->root("HwService"), "m1", "TarvoSM56KUSBModemFamily");
  for (RegistryFault fault : {RegistryFault::Open, RegistryFault::NotifierCreate}) {
    store_->injectFault(fault);
    plugin_->queryUSBExternalModems();
    EXPECT_EQ(plugin_->_emCount, 0);
    EXPECT_FALSE(record().contains("xrmodem_emModems"));
    EXPECT_EQ(plugin_->mMasterPort, 0u);
    EXPECT_EQ(plugin_->notificationPort, nullptr);
    EXPECT_TRUE(test::allGivenBack(*store_));
    store_->injectFault(fault, false);
  }
}

TEST_F(USBModemDiscoveryTest, CleanUpEndsTheDiscoveryAndMayBeRepeated) {
  auto* hub = store_->addEntry(store_->root("HwService"), "usb", "HwUSBHub");
  plugin_->queryUSBExternalModems();
  plugin_->CleanUp();
  EXPECT_TRUE(test::allGivenBack(*store_));
  plugin_->CleanUp();
  store_->addEntry(hub, "m1", "TarvoSM56KUSBModemFamily");
  EXPECT_FALSE(runPending());
  EXPECT_EQ(plugin_->_emCount, 0);

  // Once the plug-in is gone, a modem attached later reaches nothing.
  plugin_->queryUSBExternalModems();
  EXPECT_EQ(plugin_->_emCount, 1);
  plugin_.reset();
  store_->addEntry(hub, "m2", "TarvoSM56KUSBModemFamily");
  EXPECT_FALSE(runPending());
}

}  // namespace
}  // namespace xr

#include <gtest/gtest.h>

#include "support/ProbeFixture.h"
#include "platform/PlatformRoot.h"
#include "platform/RunLoop.h"

namespace xr {
namespace {

// Driver version and country code come from files under the platform root; this root has
// none, so the version is unknown and the country code 0.
class USBModemDiscoveryTest : public ProbeTest {
 protected:
  DictionaryRef modems() { return record().get("xrmodem_emModems").dictionary(); }
  bool runPending() { return RunLoop::current().runOnce(RunLoop::Clock::now()); }
  RegistryEntry* addModem(RegistryEntry* parent, const char* name, DictionaryRef properties = nullptr) {
    return store_->addEntry(parent, name, "TarvoSM56KUSBModemFamily", std::move(properties));
  }

  ScopedPlatformRoot root_{XR_BINARY_DIR "/no-such-root"};
  RegistryEntry* hub_ = store_->addEntry(store_->root("HwService"), "usb", "HwUSBHub");
};

TEST_F(USBModemDiscoveryTest, LaterModemsArriveThroughTheRunLoopOnly) {
  addModem(hub_, "m1", makeDictionary({{"locationID", 1}, {"SM56KUSBFirmwareVersion", "1.0"}}));
  plugin_->queryUSBExternalModems();

  // Attached, but the run loop has not run: the record does not know yet.
  addModem(hub_, "m2", makeDictionary({{"locationID", 2}, {"SM56KUSBFirmwareVersion", "2.0"}}));
  addModem(hub_, "m3");  // no properties at all
  EXPECT_EQ(modems()->get("xrmodem_numModems"), Value(1));

  // The record holds the map itself, so later modems show through in it.
  EXPECT_TRUE(runPending());
  EXPECT_EQ(modems()->get("xrmodem_numModems"), Value(3));
  EXPECT_EQ(modems()->get("xrmodem_usblocation"), Value(makeArray({1, 2})));
  EXPECT_EQ(modems()->get("xrmodem_fwvers"), Value("2.0"));
  EXPECT_FALSE(runPending());
}

TEST_F(USBModemDiscoveryTest, AModemWithoutReadablePropertiesStillCounts) {
  addModem(hub_, "m1", makeDictionary({{"locationID", 1}, {"SM56KUSBFirmwareVersion", "1.0"}}));
  store_->decline(RegistryOperation::EntryProperties);
  plugin_->queryUSBExternalModems();
  EXPECT_EQ(modems()->get("xrmodem_numModems"), Value(1));
  EXPECT_EQ(modems()->get("xrmodem_usblocation"), Value(makeArray()));
  EXPECT_FALSE(modems()->contains("xrmodem_fwvers"));
}

TEST_F(USBModemDiscoveryTest, WithoutAPortNothingIsArmedAndNothingKept) {
  addModem(hub_, "m1");
  for (RegistryOperation fault : {RegistryOperation::Open, RegistryOperation::NotifierCreate}) {
    store_->decline(fault);
    plugin_->queryUSBExternalModems();
    EXPECT_FALSE(record().contains("xrmodem_emModems"));
    EXPECT_EQ(test::XRModemPluginPeer(*plugin_).notificationPort(), nullptr);
    EXPECT_TRUE(test::allGivenBack(*store_));
    store_->decline(fault, false);
  }
}

TEST_F(USBModemDiscoveryTest, CleanUpEndsTheDiscoveryAndMayBeRepeated) {
  plugin_->queryUSBExternalModems();
  plugin_->CleanUp();
  EXPECT_TRUE(test::allGivenBack(*store_));
  plugin_->CleanUp();
  addModem(hub_, "m1");
  EXPECT_FALSE(runPending());

  // Once the plug-in is gone, a modem attached later reaches nothing.
  plugin_->queryUSBExternalModems();
  EXPECT_EQ(test::XRModemPluginPeer(*plugin_).emCount(), 1);
  plugin_.reset();
  addModem(hub_, "m2");
  EXPECT_FALSE(runPending());
}

}  // namespace
}  // namespace xr

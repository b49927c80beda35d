#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/Bundle.h"
#include "platform/RegistryStore.h"
#include "reporter/XRModemPlugin.h"
#include "support/RegistryTesting.h"
#include "support/XRModemPluginPeer.h"

namespace xr {

// A plug-in whose string table gives every interface type a text of its own, probing a
// registry the test fills. Each registry must have got back everything the probes took by the
// time the test moves to another one or ends.
class ProbeTest : public ::testing::Test {
 protected:
  void TearDown() override {
    plugin_.reset();  // its teardown ends the USB discovery
    EXPECT_TRUE(test::allGivenBack(*store_));
  }

  // A fresh record and a fresh registry (the scopes nest: the old one goes first).
  void useRegistry() {
    EXPECT_TRUE(test::allGivenBack(*store_));
    installed_.reset();
    store_ = std::make_shared<test::DecliningRegistryStore>();
    installed_ = std::make_unique<ScopedRegistry>(store_);
    test::XRModemPluginPeer(*plugin_).clearRecord();
  }
  // The node HwDeviceTree:zel-io/bus/name with the properties.
  void addDeviceTreeNode(const char* bus, const char* name, DictionaryRef properties) {
    auto* zelIO = store_->addEntry(store_->root("HwDeviceTree"), "zel-io", "Node");
    store_->addEntry(store_->addEntry(zelIO, bus, "Node"), name, "Node", std::move(properties));
  }
  Dictionary& record() { return *plugin_->modemInfoDictionary(); }

  std::shared_ptr<test::DecliningRegistryStore> store_ = std::make_shared<test::DecliningRegistryStore>();
  std::unique_ptr<ScopedRegistry> installed_ = std::make_unique<ScopedRegistry>(store_);
  std::shared_ptr<XRModemPlugin> plugin_ =
      XRModemPlugin::create(std::make_shared<Bundle>(XR_SOURCE_DIR "/tests/hardware/bundle"));
};

}  // namespace xr

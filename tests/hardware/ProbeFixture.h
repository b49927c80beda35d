#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/Bundle.h"
#include "platform/RegistrySnapshot.h"
#include "platform/RegistryStore.h"
#include "reporter/XRModemPlugin.h"
#include "support/RegistryTesting.h"

namespace xr {

inline std::string snapshotPath(const std::string& name) {
  return XR_SOURCE_DIR "/tests/hardware/snapshots/" + name;
}

// A plug-in whose string table gives every interface type a text of its own, probing a
// registry the test fills; each test ends by checking that the probe gave everything back.
class ProbeTest : public ::testing::Test {
 protected:
  void TearDown() override {
    plugin_.reset();  // its teardown ends the USB discovery
    EXPECT_TRUE(test::allGivenBack(*store_));
  }

  // Probes another registry from now on (the earlier one must have been given everything).
  void useRegistry(std::shared_ptr<RegistryStore> store) {
    installed_.reset();  // the scopes nest: the old one goes before the new one comes
    store_ = std::move(store);
    installed_ = std::make_unique<ScopedRegistry>(store_);
  }
  void loadSnapshot(const std::string& name) {
    auto result = readRegistrySnapshot(snapshotPath(name));
    ASSERT_TRUE(result.ok()) << result.error;
    useRegistry(result.registry);
  }

  Dictionary& record() { return *plugin_->modemInfoDictionary(); }

  std::shared_ptr<RegistryStore> store_ = RegistryStore::create();
  std::unique_ptr<ScopedRegistry> installed_ = std::make_unique<ScopedRegistry>(store_);
  std::shared_ptr<XRModemPlugin> plugin_ =
      XRModemPlugin::create(std::make_shared<Bundle>(XR_SOURCE_DIR "/tests/hardware/bundle"));
};

}  // namespace xr

// The plug-in over an in-memory registry: what the examples cannot hold (a name that is not
// UTF-8, a modem port gone before it could be asked). What a USB modem port's item holds is
// the examples'; how such a name is written as JSON, the JSON writer's test.
#include "ports/XRModemPortsPlugin.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/Json.h"
#include "platform/PlatformRoot.h"
#include "platform/RegistryStore.h"
#include "support/RegistryTesting.h"
#include "support/TempDirectory.h"

namespace xr {
namespace {

TEST(XRModemPortsPluginTest, ReportsWhatItCanOfAVanishedPortWithAByteName) {
  test::TempDirectory root;
  root.makeDirectory("var/lock");
  root.makeDirectory("proc");
  auto store = RegistryStore::create();
  RegistryEntry* platform = store->addEntry(store->root(RegistryStore::kServicePlane), "platform", "HwPlatformExpert");
  RegistryEntry* device = store->addEntry(platform, "Modem", "HwUSBDevice", makeDictionary({{"idVendor", 0x2f1a}}));
  RegistryEntry* interface =
      store->addEntry(device, "1-1:1.0", "HwUSBInterface", makeDictionary({{"ATCommandInterface", true}}));
  RegistryEntry* driver = store->addEntry(interface, "cdc_acm", "HwSerialDriver",
                                          makeDictionary({{"driverName", "cdc_acm"}}));
  const std::string name = "tty\xff\xfe";
  test::listSerialPort(*store, name, root.file("dev/gone"), driver);
  ScopedRegistry registry(store);
  ScopedPlatformRoot scopedRoot(root.path());

  auto bundle = std::make_shared<Bundle>(XR_BINARY_DIR "/bin/XRModemPorts.xrplugin");
  XRModemPortsPlugin::Options options;
  options.probe = true;
  options.procRoot = root.file("proc");
  XRModemPortsPlugin plugin(bundle, options);
  const auto items = plugin.portItems();
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0]->get("_name").stringValue(), name);
  EXPECT_EQ(items[0]->get("xrport_probe").stringValue(), "not asked: the port could not be opened");
  EXPECT_TRUE(std::filesystem::is_empty(root.file("var/lock")));
}

}  // namespace
}  // namespace xr

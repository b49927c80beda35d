// The plug-in over an in-memory registry: what the examples cannot hold (a name that is not
// UTF-8, a modem port gone before it could be asked). What a USB modem port's item holds is
// the examples'; how such a name is written as JSON, the JSON writer's test.
#include "ports/XRModemPortsPlugin.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/PlatformRoot.h"
#include "platform/RegistryStore.h"
#include "ports/PortInventory.h"
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

// /dev/modem leads to the user's modem wherever it is: one below a USB interface is no internal
// one, and stays a port --probe may ask. A cellular modem's driver makes its ports a modem's,
// though they are USB serial ones.
TEST(XRModemPortsPluginTest, KindsOfModemPorts) {
  struct Case {
    const char* name;
    const char* port;
    bool usb, atInterface, usbSerial;
    const char* module;
    SerialPortKind kind;
  } cases[] = {
      {"modem on a UART", "modem", false, false, false, "8250", SerialPortKind::InternalModem},
      {"CDC ACM modem", "modem", true, true, false, "cdc_acm", SerialPortKind::USBModem},
      {"modem on a USB serial adapter", "modem", true, false, true, "ftdi_sio", SerialPortKind::USBModem},
      {"cellular modem", "ttyUSB2", true, false, true, "option", SerialPortKind::USBModem},
      {"USB serial adapter", "ttyUSB0", true, false, true, "ftdi_sio", SerialPortKind::USBSerialAdapter},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto store = RegistryStore::create();
    RegistryEntry* parent = store->root(RegistryStore::kServicePlane);
    if (c.usb) {
      parent = store->addEntry(parent, "Modem", "HwUSBDevice", makeDictionary({{"idVendor", 0x2f1a}}));
      parent = store->addEntry(parent, "1-2:1.0", "HwUSBInterface",
                               makeDictionary({{"ATCommandInterface", c.atInterface}}));
    }
    parent = store->addEntry(parent, "driver", "HwSerialDriver",
                             makeDictionary({{"usbSerial", c.usbSerial}, {"moduleName", c.module}}));
    test::listSerialPort(*store, c.port, std::string("/dev/") + c.port, parent);
    const std::vector<SerialPortRecord> ports = PortInventory::harvest(*store);
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0].kind, c.kind);
  }
}

// The pass begun as the plug-in loads is used only for the ports it scanned: a port that came
// or went since would be given another port's holders.
TEST(XRModemPortsPluginTest, AnEarlyPassServesOnlyTheSamePorts) {
  test::TempDirectory root;
  root.makeDirectory("proc/11/fd");
  root.write("proc/11/comm", "gpsd\n");
  std::filesystem::create_symlink(root.file("dev/ttyXR1"), root.file("proc/11/fd/3"));
  // A driver listing that is a tool launch: the early pass has a thread of its own.
  std::filesystem::permissions(root.write("usr/sbin/drvxstat", "#!/bin/sh\n"), std::filesystem::perms::owner_all);
  auto store = RegistryStore::create();
  test::listSerialPort(*store, "ttyXR0", root.file("dev/ttyXR0"));
  test::listSerialPort(*store, "ttyXR1", root.file("dev/ttyXR1"));
  ScopedRegistry registry(store);
  ScopedPlatformRoot scopedRoot(root.path());
  const std::vector<SerialPortRecord> ports = PortInventory::harvest(*store);
  ASSERT_EQ(ports.size(), 2u);

  auto early = XRModemPortsPlugin::EarlyPass::begin();
  ASSERT_TRUE(early);
  EXPECT_FALSE(early->finish({ports[1]}));
  early = XRModemPortsPlugin::EarlyPass::begin();
  const auto made = early->finish(ports);
  ASSERT_TRUE(made);
  EXPECT_EQ(made->scan.holders, (std::vector<std::vector<ProcessRef>>{{}, {{11, "gpsd"}}}));
}

}  // namespace
}  // namespace xr

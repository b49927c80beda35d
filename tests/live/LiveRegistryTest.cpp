// The live registry on fake system trees: what each kind of port and device becomes, and what
// broken trees leave out.
#include "live/LiveRegistry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "platform/Json.h"
#include "platform/RegistrySnapshot.h"
#include "support/FakeSystem.h"
#include "support/ValuePrinting.h"

namespace xr {
namespace {
using test::FakeSystem;

const std::string kPnp = "/sys/devices/pnp0/00:01";
const std::string kUsbDevice = test::kUsbModemDevice;
const std::string kUsbInterface = test::kUsbModemInterface;
const std::string kAcm = test::kUsbModemTty;
const std::string kAcmEntry = "HwService:platform/usb1/Tarvo USB Modem/1-2.3:1.0/cdc_acm/ttyACM0";


// ttyS0 behind the serial-base port and controller of a PNP device; ttyS1 an empty 8250 slot.
void pnpUart(const FakeSystem& sys) {
  sys.device(kPnp, "pnp", {}, "serial");
  sys.device(kPnp + "/00:01:0", "serial-base", {}, "ctrl");
  sys.device(kPnp + "/00:01:0/00:01:0.0", "serial-base", {}, "port");
  sys.tty(kPnp + "/00:01:0/00:01:0.0/tty/ttyS0", kPnp + "/00:01:0/00:01:0.0", 4, 64, {{"type", "4"}});
  sys.device("/sys/devices/platform/serial8250", "platform", {{"modalias", "platform:serial8250"}}, "serial8250", "8250");
  sys.tty("/sys/devices/platform/serial8250/tty/ttyS1", "/sys/devices/platform/serial8250", 4, 65, {{"type", "0"}});
}

struct Expect {
  std::string path;  // a registry path
  std::string key;   // empty: only that the entry exists; "!": that it does not
  Value value;
};

struct Case {
  const char* name;
  std::function<void(const FakeSystem&)> make;
  std::vector<Expect> expects;
  UsbFamilyTable family = {};
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class LiveRegistryCases : public ::testing::TestWithParam<Case> {};

TEST_P(LiveRegistryCases, Builds) {
  FakeSystem sys;
  GetParam().make(sys);
  LiveRegistry live({sys.root(), GetParam().family});
  live.build();
  const RegistryStore& store = *live.store();
  for (const Expect& e : GetParam().expects) {
    const RegistryEntry* entry = store.entryAtPath(e.path);
    if (e.key == "!") {
      EXPECT_EQ(entry, nullptr) << e.path;
      continue;
    }
    ASSERT_NE(entry, nullptr) << e.path << "\n" << toJson(registrySnapshot(store));
    if (!e.key.empty()) {
      EXPECT_EQ(store.property(entry, e.key), e.value) << e.path << " " << e.key;
    }
  }
}

Value bytes(std::string_view s) { return Value(dataWithString(s)); }

const std::string kUart = "HwService:platform/00:01/serial/ttyS0";

INSTANTIATE_TEST_SUITE_P(
    Trees, LiveRegistryCases,
    ::testing::Values(
        // The UART's name, node, UART name, links and driver are what the ports report of the
        // capture test's empty machine, which has the same chain, shows.
        Case{"SerialBaseChainAndEmptySlot", pnpUart,
             {{"HwService:platform/00:01", "subsystem", "pnp"},
              {"HwService:platform/00:01", "sysfsPath", kPnp},
              {kUart, "deviceNumber", "4:64"},
              {"HwService:platform/serial8250", "!", {}}}},
        Case{"DeviceTreeNodeAndOfNode",
             [](const FakeSystem& sys) {
               const std::string base = "/sys/firmware/devicetree/base";
               sys.write(base + "/model", std::string("Board\0", 6));
               sys.write(base + "/soc/serial@3f201000/compatible", std::string("arm,pl011\0arm,primecell\0", 24));
               sys.write(base + "/soc/serial@3f215040/compatible", std::string("brcm,mini-uart\0", 15));
               sys.write(base + "/zel-io/i2c@10/i2c-modem/modem-id", std::string("\x01\x0d", 2));
               sys.write(base + "/big", std::string(70000, 'x'));
               const std::string dev = "/sys/devices/platform/soc/3f201000.serial";
               sys.device(dev, "amba", {{"modalias", "amba:d00041011"}}, "uart-pl011");
               sys.link(dev + "/of_node", base + "/soc/serial@3f201000");
               sys.tty(dev + "/tty/ttyAMA0", dev, 204, 64, {{"type", "32"}});
             },
             {{"HwDeviceTree:", "model", bytes(std::string("Board\0", 6))},
              {"HwDeviceTree:", "big", {}},
              {"HwDeviceTree:soc/serial", "compatible", bytes(std::string("arm,pl011\0arm,primecell\0", 24))},
              {"HwDeviceTree:soc/serial@3f215040", "compatible", bytes(std::string("brcm,mini-uart\0", 15))},
              {"HwDeviceTree:zel-io/i2c/i2c-modem", "modem-id", bytes("\x01\x0d")},
              {"HwService:platform/3f201000.serial", "compatible", bytes(std::string("arm,pl011\0arm,primecell\0", 24))},
              {"HwService:platform/3f201000.serial", "modalias", "amba:d00041011"},
              {"HwService:platform/3f201000.serial/uart-pl011/ttyAMA0", "uartName", {}}}},
        Case{"UsbModemInTheFamilyTable", [](const FakeSystem& sys) { sys.usbModem(); },
             {{"HwService:platform/usb1", "locationID", 0x01000000},
              {"HwService:platform/usb1/Tarvo USB Modem", "locationID", 0x01230000},
              {"HwService:platform/usb1/Tarvo USB Modem", "idVendor", 0x05ac},
              {"HwService:platform/usb1/Tarvo USB Modem", "bcdDevice", 0x0203},
              {"HwService:platform/usb1/Tarvo USB Modem", "SM56KUSBFirmwareVersion", 0x0203},
              {"HwService:platform/usb1/Tarvo USB Modem", "portPath", "2.3"},
              {"HwService:platform/usb1/Tarvo USB Modem", "speed", "12"},
              {"HwService:platform/usb1/Tarvo USB Modem/1-2.3:1.0", "ATCommandInterface", true},
              {"HwService:platform/usb1/Tarvo USB Modem/1-2.3:1.0/cdc_acm", "PkBundleIdentifier", "cdc_acm"}},
             UsbFamilyTable({{0x05ac, 0x0015}})},
        Case{"PlainAcmAndUsbSerial",
             [](const FakeSystem& sys) {
               sys.usbModem();
               const std::string dev = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1";
               sys.device(dev, "usb", {{"idVendor", "12d1"}, {"idProduct", "1001"}, {"busnum", "1"}}, "usb");
               sys.link("/sys/bus/usb/devices/1-1", dev);
               sys.device(dev + "/1-1:1.0", "usb",
                          {{"bInterfaceNumber", "00"}, {"bInterfaceClass", "ff"}, {"bInterfaceSubClass", "ff"},
                           {"bInterfaceProtocol", "ff"}},
                          "option", "option");
               sys.link("/sys/bus/usb/devices/1-1:1.0", dev + "/1-1:1.0");
               sys.device(dev + "/1-1:1.0/ttyUSB0", "usb-serial", {}, "option1", "option");
               sys.tty(dev + "/1-1:1.0/ttyUSB0/tty/ttyUSB0", dev + "/1-1:1.0/ttyUSB0", 188, 0);
             },
             {{"HwService:platform/usb1/Tarvo USB Modem", "SM56KUSBFirmwareVersion", {}},
              {"HwService:platform/usb1/USB Device", "locationID", 0x01100000},
              {"HwService:platform/usb1/USB Device/1-1:1.0", "ATCommandInterface", false},
              {"HwService:platform/usb1/USB Device/1-1:1.0/option", "usbSerial", true},
              {"HwService:platform/usb1/USB Device/1-1:1.0/option/ttyUSB0", "devicePath", "/dev/ttyUSB0"}}},
        Case{"BrokenAttributesAndLinks",
             [](const FakeSystem& sys) {
               sys.usbModem(std::string("Mo\xff\xfe", 4));
               sys.write(kUsbDevice + "/manufacturer", std::string(5000, 'm'));  // over a page
               std::filesystem::remove(sys.root() + kUsbDevice + "/serial");
               sys.directory(kUsbDevice + "/serial");  // not a file
               // A tty whose device link loops, and one whose device is gone.
               sys.directory("/sys/devices/loop/tty/ttyL0");
               sys.attribute("/sys/devices/loop/tty/ttyL0/dev", "4:70");
               sys.rawLink("/sys/devices/loop/tty/ttyL0/device", "device");
               sys.link("/sys/class/tty/ttyL0", "/sys/devices/loop/tty/ttyL0");
               sys.tty("/sys/devices/gone/tty/ttyG0", "/sys/devices/gone/x", 4, 71);
               // A USB device with a binary idVendor is left out.
               sys.device("/sys/devices/pci0000:00/0000:00:14.0/usb1/1-4", "usb", {{"idProduct", "0001"}, {"busnum", "1"}});
               sys.write("/sys/devices/pci0000:00/0000:00:14.0/usb1/1-4/idVendor", "\x01\x02");
               sys.link("/sys/bus/usb/devices/1-4", "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-4");
             },
             {{"HwService:platform/usb1/Mo\xff\xfe", "product", std::string("Mo\xff\xfe", 4)},
              {"HwService:platform/usb1/Mo\xff\xfe", "manufacturer", {}},
              {"HwService:platform/usb1/Mo\xff\xfe", "serial", {}},
              {"HwService:platform/usb1/USB Device", "!", {}},
              {"HwService:platform/loop", "!", {}},
              {"HwService:platform/gone", "!", {}}}},
        Case{"NoSys", [](const FakeSystem&) {}, {{"HwService:platform", "", {}}, {"HwService:platform/usb1", "!", {}}}},
        Case{"ClassTtyNotADirectory",
             [](const FakeSystem& sys) {
               sys.usbModem();
               std::filesystem::remove_all(sys.root() + "/sys/class/tty");
               sys.write("/sys/class/tty", "");
             },
             {{"HwService:platform/usb1/Tarvo USB Modem/1-2.3:1.0", "ATCommandInterface", true},
              {kAcmEntry, "!", {}}}}),
    [](const auto& info) { return std::string(info.param.name); });

// /dev/modem names the port it leads to, however it leads there.
TEST(LiveRegistry, DevModemNamesThePortItLeadsTo) {
  struct Case {
    const char* name;
    std::function<void(const FakeSystem&)> make;
    bool isModem;
  } cases[] = {
      {"relative link", [](const FakeSystem& sys) { sys.rawLink("/dev/modem", "ttyACM0"); }, true},
      {"absolute link", [](const FakeSystem& sys) { sys.rawLink("/dev/modem", "/dev/ttyACM0"); }, true},
      {"through a by-id link", [](const FakeSystem& sys) { sys.rawLink("/dev/modem", "serial/by-id/usb-Tarvo-if00"); }, true},
      {"node", [](const FakeSystem& sys) { sys.node("/dev/modem", 166, 0); }, true},
      {"node of another port", [](const FakeSystem& sys) { sys.node("/dev/modem", 166, 1); }, false},
      {"dangling", [](const FakeSystem& sys) { sys.rawLink("/dev/modem", "ttyACM7"); }, false},
      {"loop", [](const FakeSystem& sys) { sys.rawLink("/dev/modem", "modem"); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSystem sys;
    sys.usbModem();
    sys.link("/dev/serial/by-id/usb-Tarvo-if00", "/dev/ttyACM0");
    c.make(sys);
    LiveRegistry live({sys.root(), {}});
    live.build();
    const RegistryStore& store = *live.store();
    const RegistryEntry* port = store.entryAtPath(kAcmEntry);
    ASSERT_NE(port, nullptr);
    const char* name = c.isModem ? "modem" : "ttyACM0";
    EXPECT_EQ(store.property(port, "HwTTYDevice"), Value(name));
    EXPECT_EQ(store.property(port, "HwCalloutDevice"), Value(sys.root() + "/dev/" + name));
    ArrayRef links = makeArray({"/dev/serial/by-id/usb-Tarvo-if00"});
    if (c.isModem) links->insert(links->begin(), Value("/dev/modem"));
    EXPECT_EQ(store.property(port, "deviceLinks"), Value(links));
  }
}

// A device added after the build (what a hot-plug add does) brings the entries it lacks, once.
TEST(LiveRegistry, AddDeviceAddsWhatIsMissingOnce) {
  FakeSystem sys;
  pnpUart(sys);
  LiveRegistry live({sys.root(), UsbFamilyTable({{0x05ac, 0x0015}})});
  live.build();
  size_t before = live.store()->entryCount();
  sys.usbModem();

  std::vector<const RegistryEntry*> added = live.addDevice(kAcm);
  std::vector<std::string> classes;
  for (const RegistryEntry* e : added) classes.push_back(e->className());
  EXPECT_EQ(classes, (std::vector<std::string>{"HwUSBController", "TarvoSM56KUSBModemFamily", "HwUSBInterface",
                                                "HwSerialDriver", "HwSerialBSDClient"}));
  EXPECT_EQ(live.store()->entryCount(), before + 5);
  EXPECT_TRUE(live.addDevice(kAcm).empty());
  EXPECT_TRUE(live.addDevice(kUsbDevice).empty());
  EXPECT_TRUE(live.addDevice("/sys/devices/virtual/tty/tty9").empty());
  EXPECT_TRUE(live.addDevice("/sys/devices/nowhere").empty());
}

// What a device leaves is taken out, below it included and nothing beside it, and what comes
// back at its path is read anew: another driver bound, another device in the socket.
TEST(LiveRegistry, RemovedDevicesAreReadAnewWhenTheyComeBack) {
  FakeSystem sys;
  sys.usbModem();
  const std::string neighbour = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2.30";
  sys.device(neighbour, "usb", {{"idVendor", "0403"}, {"idProduct", "6001"}, {"busnum", "1"}}, "usb");
  sys.link("/sys/bus/usb/devices/1-2.30", neighbour);
  LiveRegistry live({sys.root(), {}});
  live.build();
  const RegistryStore& store = *live.store();
  const std::string interfaceEntry = "HwService:platform/usb1/Tarvo USB Modem/1-2.3:1.0";

  // Unbound: the driver and its port go, the interface stays; bound to another driver.
  EXPECT_EQ(live.removeDevice(kUsbInterface + "/driver"), 2u);
  EXPECT_EQ(store.entryAtPath(interfaceEntry + "/cdc_acm"), nullptr);
  sys.device(kUsbInterface, "usb", {}, "option", "option");
  EXPECT_EQ(live.addDevice(kAcm).size(), 2u);
  EXPECT_NE(store.entryAtPath(interfaceEntry + "/option/ttyACM0"), nullptr);

  // Pulled out, and another modem in its socket.
  EXPECT_EQ(live.removeDevice(kUsbDevice), 4u);
  EXPECT_EQ(live.removeDevice(kUsbDevice), 0u);
  EXPECT_EQ(store.entryAtPath("HwService:platform/usb1/Tarvo USB Modem"), nullptr);
  EXPECT_NE(store.entryAtPath("HwService:platform/usb1/USB Device"), nullptr);
  sys.attribute(kUsbDevice + "/product", "Other Modem");
  EXPECT_EQ(live.addDevice(kAcm).size(), 4u);
  EXPECT_NE(store.entryAtPath("HwService:platform/usb1/Other Modem/1-2.3:1.0/option/ttyACM0"), nullptr);
  EXPECT_EQ(store.matchingEntries(Dictionary{{"class", "HwSerialBSDClient"}}).size(), 1u);
}

// Link targets are taken relative to the link's directory; ".." never climbs above the root.
TEST(SysfsTree, PathsAreNormalisedAndClimbed) {
  EXPECT_EQ(normalizePath("/sys/class/tty/../../devices/./pnp0/"), "/sys/devices/pnp0");
  EXPECT_EQ(normalizePath("../../.."), "/");
  EXPECT_EQ(parentPath("/sys/bus"), "/sys");
  EXPECT_EQ(parentPath("/modem"), "/");
  EXPECT_EQ(parentPath("/"), "/");
  EXPECT_EQ(baseName("/sys/bus/usb"), "usb");
}

// Shorter port paths are the trees' above.
TEST(LiveRegistry, LocationIdHasANibblePerPort) {
  EXPECT_EQ(usbLocationID(3, "1.2.3.4.5.6"), 0x03123456);
  EXPECT_EQ(usbLocationID(1, "20"), 0x01f00000);  // more than a nibble holds
}

TEST(UsbFamilyTable, ReadsPairsAndRefusesOthers) {
  test::TempDirectory dir;
  std::string error;
  auto missing = UsbFamilyTable::read(dir.file("none.json"), &error);
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->size(), 0u);
  auto table = UsbFamilyTable::read(
      dir.write("t.json", R"({"comment": "x", "devices": [{"idVendor": 1452, "idProduct": 21}]})"), &error);
  ASSERT_TRUE(table) << error;
  EXPECT_TRUE(table->contains(1452, 21));
  EXPECT_FALSE(table->contains(1452, 22));
  for (const char* bad : {R"({"devices": [{"idVendor": 1452}]})", R"({"devices": [{"idVendor": 70000, "idProduct": 1}]})",
                          R"({"devices": {}})", "[]", "{"}) {
    EXPECT_FALSE(UsbFamilyTable::read(dir.write("bad.json", bad), &error)) << bad;
    EXPECT_NE(error.find("bad.json"), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace xr

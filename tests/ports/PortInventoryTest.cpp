// The ports of the example machines, read the way the plug-in reads every registry.
#include <gtest/gtest.h>

#include "platform/RegistrySnapshot.h"
#include "ports/PortInventory.h"

namespace xr {
namespace {

std::vector<SerialPortRecord> portsOf(const std::string& example) {
  auto snapshot = readRegistrySnapshot(XR_SOURCE_DIR "/examples/" + example + "/registry.json");
  EXPECT_TRUE(snapshot.ok()) << snapshot.error;
  return snapshot.ok() ? PortInventory::harvest(*snapshot.registry) : std::vector<SerialPortRecord>{};
}

struct Expected {
  std::string name;
  SerialPortKind kind;
  std::optional<std::string> driver;
  std::optional<int64_t> vendorID;
};

TEST(PortInventoryTest, ModemsFirstThenByNameWithKindDriverAndUSBFacts) {
  const std::vector<Expected> expected{
      {"ttyACM0", SerialPortKind::USBModem, "cdc_acm", 0x2f1a},
      {"ttyACM1", SerialPortKind::Other, "cdc_acm", 0x3a11},  // CDC without AT commands: a board
      {"ttyS0", SerialPortKind::UART, "serial8250", std::nullopt},
      {"ttyUSB0", SerialPortKind::USBSerialAdapter, "ftdi_sio", 0x1e5c},
  };
  const auto ports = portsOf("linux-ports");
  ASSERT_EQ(ports.size(), expected.size());
  for (size_t i = 0; i < ports.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(ports[i].name, expected[i].name);
    EXPECT_EQ(ports[i].kind, expected[i].kind);
    EXPECT_EQ(ports[i].driverName, expected[i].driver);
    EXPECT_EQ(ports[i].usb ? ports[i].usb->vendorID : std::nullopt, expected[i].vendorID);
    EXPECT_EQ(ports[i].devicePath, "/dev/" + expected[i].name);
  }
  EXPECT_EQ(ports[2].uartName, "16550A");
  EXPECT_EQ(ports[0].usb->portPath, "2");
  EXPECT_EQ(ports[3].links.size(), 2u);
}

// The other platform's profiles name the modem port without kernel names or paths of Linux.
TEST(PortInventoryTest, ModemPortOfAnOlderProfileIsTheInternalModem) {
  const auto ports = portsOf("serial-pellan");
  ASSERT_EQ(ports.size(), 1u);
  EXPECT_EQ(ports[0].name, "modem");
  EXPECT_EQ(ports[0].kind, SerialPortKind::InternalModem);
  EXPECT_EQ(ports[0].devicePath, std::nullopt);
  EXPECT_EQ(ports[0].openPath, "/dev/cu.modem");
  EXPECT_EQ(ports[0].bundleIdentifier, "com.tarvo.driver.TarvoSCCSerial");
}

}  // namespace
}  // namespace xr

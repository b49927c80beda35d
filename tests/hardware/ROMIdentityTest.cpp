#include <gtest/gtest.h>

#include <cstring>

#include "support/ProbeFixture.h"

namespace xr {
namespace {

Data bytes(std::initializer_list<uint8_t> b) { return Data(std::vector<uint8_t>(b)); }

TEST_F(ProbeTest, ROMIsReadAndNamedWhereItCanBe) {
  std::vector<uint8_t> full(30);
  for (size_t i = 0; i < full.size(); ++i) full[i] = static_cast<uint8_t>(0x40 + i);
  full[1] = 1;  // Pellan
  full[2] = 4;  // South Africa
  full[3] = 2;  // USB
  struct Case {
    const char* what;
    Data rom;
    Dictionary written;
  } cases[] = {
      {"two bytes, Torvin device", bytes({1, 12}), {{"Device", "MicroTorvin"}}},
      {"no device name", bytes({1, 2, 1, 3, '2', '.', '1', 'a'}),
       {{"SKU", "UCJ"}, {"Hardware Version", "2.1a"}, {"xrmodem_interfacetype", "Digital audio bus"}}},
      {"revision bytes partly zero", bytes({1, 13, 0, 1, '3', 0, '1'}),
       {{"Device", "LastTorvin"}, {"Hardware Version", "31"}, {"xrmodem_interfacetype", "Internal serial"}}},
      {"interface type without a name", bytes({1, 11, 9, 5}), {{"Device", "Torvin2"}}},
      {"thirty bytes", Data(full),
       {{"Device", "Pellan"}, {"SKU", "South Africa"}, {"Hardware Version", "DEFG"},
        {"xrmodem_interfacetype", "Universal serial bus"}}},
      {"empty", Data(), {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    useRegistry();
    // Left from an earlier ROM, these bytes would show in the record.
    std::memset(&test::XRModemPluginPeer(*plugin_).romContents(), 0xee, sizeof(I2CROMContentRec));
    addDeviceTreeNode("i2c", "i2c-modem", makeDictionary({{"modem-id", c.rom}}));
    EXPECT_TRUE(plugin_->queryI2CROMContents());
    EXPECT_EQ(record(), c.written);
  }
}

TEST_F(ProbeTest, ROMWithoutAByteStringChangesNothing) {
  struct Case {
    const char* what;
    bool node;
    Value modemId;  // null: no "modem-id"
    bool openFails;
  } cases[] = {
      {"no node", false, nullptr, false},
      {"no modem-id", true, nullptr, false},
      {"modem-id as text", true, "\x01\x0c", false},
      {"modem-id as number", true, 0x010c, false},
      {"registry cannot be opened", true, bytes({1, 12}), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    useRegistry();
    auto props = c.modemId.isNull() ? nullptr : makeDictionary({{"modem-id", c.modemId}});
    if (c.node) addDeviceTreeNode("i2c", "i2c-modem", props);
    store_->decline(RegistryOperation::Open, c.openFails);
    plugin_->setObject("earlier", "Device");
    std::memset(&test::XRModemPluginPeer(*plugin_).romContents(), 0xee, sizeof(I2CROMContentRec));
    EXPECT_FALSE(plugin_->queryI2CROMContents());
    EXPECT_EQ(record(), Dictionary({{"Device", "earlier"}}));
    EXPECT_EQ(test::XRModemPluginPeer(*plugin_).romContents().deviceID, 0xee);
  }
}

}  // namespace
}  // namespace xr

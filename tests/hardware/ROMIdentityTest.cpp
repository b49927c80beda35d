#include <gtest/gtest.h>

#include <cstring>
#include <optional>

#include "support/ProbeFixture.h"

namespace xr {
namespace {

Data bytes(std::initializer_list<uint8_t> b) { return Data(std::vector<uint8_t>(b)); }

// A ROM that cannot be read (no byte string, no registry) changes nothing; no node at all is
// every example without a ROM. Bytes left
// from an earlier ROM (0xee) must never show.
TEST_F(ProbeTest, ROMIsReadAndNamedWhereItCanBe) {
  std::vector<uint8_t> full(30);
  for (size_t i = 0; i < full.size(); ++i) full[i] = static_cast<uint8_t>(0x40 + i);
  full[1] = 1;  // Pellan
  full[2] = 4;  // South Africa
  full[3] = 2;  // USB
  struct Case {
    const char* what;
    Value rom;  // null: a node without "modem-id"
    std::optional<Dictionary> written;  // nullopt: not read
    bool openFails = false;
  } cases[] = {
      {"two bytes, Torvin device", bytes({1, 12}), Dictionary{{"Device", "MicroTorvin"}}},
      {"no device name", bytes({1, 2, 1, 3, '2', '.', '1', 'a'}),
       Dictionary{{"SKU", "UCJ"}, {"Hardware Version", "2.1a"}, {"xrmodem_interfacetype", "Digital audio bus"}}},
      {"revision bytes partly zero", bytes({1, 13, 0, 1, '3', 0, '1'}),
       Dictionary{{"Device", "LastTorvin"}, {"Hardware Version", "31"}, {"xrmodem_interfacetype", "Internal serial"}}},
      {"interface type without a name", bytes({1, 11, 9, 5}), Dictionary{{"Device", "Torvin2"}}},
      {"thirty bytes", Data(full),
       Dictionary{{"Device", "Pellan"}, {"SKU", "South Africa"}, {"Hardware Version", "DEFG"},
                  {"xrmodem_interfacetype", "Universal serial bus"}}},
      {"empty", Data(), Dictionary{}},
      {"no modem-id", nullptr, std::nullopt},
      {"modem-id as text", "\x01\x0c", std::nullopt},
      {"modem-id as number", 0x010c, std::nullopt},
      {"registry cannot be opened", bytes({1, 12}), std::nullopt, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    useRegistry();
    addDeviceTreeNode("i2c", "i2c-modem", c.rom.isNull() ? nullptr : makeDictionary({{"modem-id", c.rom}}));
    store_->decline(RegistryOperation::Open, c.openFails);
    std::memset(&test::XRModemPluginPeer(*plugin_).romContents(), 0xee, sizeof(I2CROMContentRec));
    EXPECT_EQ(plugin_->queryI2CROMContents(), c.written.has_value());
    EXPECT_EQ(record(), c.written.value_or(Dictionary{}));
    if (!c.written) {
      EXPECT_EQ(test::XRModemPluginPeer(*plugin_).romContents().deviceID, 0xee);
    }
  }
}

}  // namespace
}  // namespace xr

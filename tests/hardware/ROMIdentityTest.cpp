#include <gtest/gtest.h>

#include <cstring>

#include "hardware/ProbeFixture.h"

namespace xr {
namespace {

Data bytes(std::initializer_list<uint8_t> b) { return Data(std::vector<uint8_t>(b)); }

class ROMIdentityTest : public ProbeTest {
 protected:
  // The i2c-modem node, with the property when it is not null.
  void addROMNode(const Value& modemId) {
    auto* zel = store_->addEntry(store_->root("HwDeviceTree"), "zel-io", "Node");
    auto* i2c = store_->addEntry(zel, "i2c", "Node");
    auto props = makeDictionary();
    if (!modemId.isNull()) props->set("modem-id", modemId);
    store_->addEntry(i2c, "i2c-modem", "Node", props);
  }
};

TEST_F(ROMIdentityTest, ReadsTheROMAndNamesWhatItCan) {
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
    useRegistry(RegistryStore::create());
    plugin_->_modemInfoDictionary = makeDictionary();
    std::memset(&plugin_->_i2cROMContents, 0xee, sizeof(I2CROMContentRec));
    addROMNode(c.rom);
    EXPECT_TRUE(plugin_->queryI2CROMContents());
    EXPECT_EQ(record(), c.written);
    // The record holds the first 23 bytes, zero past a short value.
    std::vector<uint8_t> expected(23);
    std::copy_n(c.rom.bytes(), std::min<size_t>(23, c.rom.length()), expected.begin());
    EXPECT_EQ(std::memcmp(&plugin_->_i2cROMContents, expected.data(), 23), 0);
    EXPECT_TRUE(test::allGivenBack(*store_));
  }
}

TEST_F(ROMIdentityTest, WithoutAByteStringNothingChanges) {
  struct Case {
    const char* what;
    bool node;
    Value modemId;
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
    useRegistry(RegistryStore::create());
    if (c.node) addROMNode(c.modemId);
    store_->injectFault(RegistryFault::Open, c.openFails);
    plugin_->_modemInfoDictionary = makeDictionary({{"Device", "earlier"}});
    std::memset(&plugin_->_i2cROMContents, 0xee, sizeof(I2CROMContentRec));
    EXPECT_FALSE(plugin_->queryI2CROMContents());
    EXPECT_EQ(record(), Dictionary({{"Device", "earlier"}}));
    EXPECT_EQ(plugin_->_i2cROMContents.deviceID, 0xee);
    EXPECT_TRUE(test::allGivenBack(*store_));
  }
}

TEST_F(ROMIdentityTest, ReadsTheROMOfASnapshot) {
  loadSnapshot("i2c-rom.json");
  ASSERT_TRUE(plugin_->queryI2CROMContents());
  EXPECT_EQ(record(), Dictionary({{"Device", "Torvin2"},
                                  {"SKU", "Euro"},
                                  {"Hardware Version", "1.0b"},
                                  {"xrmodem_interfacetype", "Internal serial"}}));
  const I2CROMContentRec& rom = plugin_->_i2cROMContents;
  EXPECT_EQ(rom.FWRevNumber_Major, '2');
  EXPECT_EQ(rom.FWRevState_Number, 4);
  EXPECT_EQ(rom.chipsetVendorID, 3);
  EXPECT_EQ(rom.ethernetMacaddress1, 0x00);
  EXPECT_EQ(rom.ethernetMacaddress6, 0x16);
}

TEST(ROMNamesTest, EachLookupNamesItsOwnValuesOnly) {
  using Lookup = std::optional<std::string> (*)(int8_t);
  struct Case {
    Lookup lookup;
    int8_t named;
    const char* name;
  } cases[] = {
      {XRModemPlugin::vendorNameFromVendorID, 1, "Orvik"},
      {XRModemPlugin::deviceNameFromDeviceID, 10, "MiniPellan-DCP"},
      {XRModemPlugin::skuNameFromSKUID, 4, "South Africa"},
      {XRModemPlugin::chipsetVendorNameFromID, 4, "Texas Instruments"},
      {XRModemPlugin::chipsetVendorDeviceNameFromID, 3, "RC6789_USB"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.lookup(c.named), c.name);
    for (int8_t id : {0, 5, -1, -128}) EXPECT_EQ(c.lookup(id), std::nullopt) << c.name << " " << int(id);
  }
}

}  // namespace
}  // namespace xr

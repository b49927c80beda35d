#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Json.h"
#include "platform/PlatformRoot.h"
#include "platform/RegistryStore.h"
#include "support/RegistryTesting.h"
#include "support/TempDirectory.h"
#include "support/SerialPortListPeer.h"

namespace xr::test {

// A machine built by a test: its own registry, platform root and serial port list, installed
// while it lives.
class TestMachine {
 public:
  TestMachine() : root_(dir_.makeDirectory("root")) { test::SerialPortListPeer::resetShared(); }
  ~TestMachine() { test::SerialPortListPeer::resetShared(); }

  RegistryStore& registry() { return *store_; }

  // The identification ROM at HwDeviceTree:zel-io/i2c/i2c-modem: device, SKU, interface type and
  // hardware revision 1.0a.
  void addROM(uint8_t device, uint8_t sku, uint8_t interface) {
    const std::vector<uint8_t> bytes{1, device, sku, interface, '1', '.', '0', 'a'};
    store_->addEntry(store_->addEntry(zelIO(), "i2c", "Bus"), "i2c-modem", "Device",
                     makeDictionary({{"modem-id", Data(bytes.data(), bytes.size())}}));
  }
  // The digital-audio-bus node HwDeviceTree:zel-io/i2s/i2s-b.
  void addI2SNode(std::string_view compatible) {
    store_->addEntry(store_->addEntry(zelIO(), "i2s", "Bus"), "i2s-b", "Device",
                     makeDictionary({{"compatible", dataWithString(compatible)}}));
  }
  // A serial channel, its driver below it and, with a ttyPath, the "modem" port below that.
  void addSerialModem(std::string_view compatible, const std::string& driver, const std::string& ttyPath = "") {
    auto* channel = store_->addEntry(store_->root(RegistryStore::kServicePlane), "ch-b", "Channel",
                                     makeDictionary({{"compatible", dataWithString(compatible)}}));
    auto* drv = store_->addEntry(channel, "driver", "Driver", makeDictionary({{"PkBundleIdentifier", driver}}));
    if (!ttyPath.empty()) listSerialPort(*store_, "modem", ttyPath, drv);
  }

  // /var/db/modem.prefs whose record holds code: 25 record bytes, then the sum of their signed
  // values, little-endian.
  void writeModemPrefs(uint8_t code) {
    std::string record(25, '\x11');
    record[0] = static_cast<char>(code);
    uint32_t sum = 0;
    for (char c : record) sum += static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(c)));
    for (int i = 0; i < 4; ++i) record += static_cast<char>((sum >> (8 * i)) & 0xFF);
    dir_.write("root/var/db/modem.prefs", record);
  }
  // The country last chosen in the modem settings tool, as an ISO code.
  void writeGlobalCountry(const std::string& iso) {
    dir_.write("root/Library/Preferences/ByHost/GlobalPreferences.json",
               toJson(makeDictionary({{"com.tarvo.TarvoModemSettingTool.LastCountryCode", iso}})));
  }

 private:
  RegistryEntry* zelIO() {
    if (!zelIO_) zelIO_ = store_->addEntry(store_->root(RegistryStore::kDeviceTreePlane), "zel-io", "Node");
    return zelIO_;
  }

  TempDirectory dir_;
  ScopedPlatformRoot root_;
  std::shared_ptr<RegistryStore> store_ = RegistryStore::create();
  ScopedRegistry installed_{store_};
  RegistryEntry* zelIO_ = nullptr;
};

}  // namespace xr::test

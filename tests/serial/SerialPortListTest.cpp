#include <gtest/gtest.h>

#include "platform/RegistryStore.h"
#include "serial/SerialPortList.h"
#include "support/RegistryTesting.h"
#include "support/SerialPortListPeer.h"

namespace xr {
namespace {

DictionaryRef serialClient(const char* type, const char* name, const char* path) {
  auto properties = makeDictionary({{"HwSerialBSDClientType", type}});
  if (name) properties->set("HwTTYDevice", name);
  if (path) properties->set("HwCalloutDevice", path);
  return properties;
}

class SerialPorts : public ::testing::Test {
 protected:
  void SetUp() override { test::SerialPortListPeer::resetShared(); }
  void TearDown() override {
    test::SerialPortListPeer::resetShared();
    EXPECT_TRUE(test::allGivenBack(*store_));
  }
  std::shared_ptr<RegistryStore> store_ = RegistryStore::create();
  ScopedRegistry scoped_{store_};
};

TEST_F(SerialPorts, ListsStreamPortsInRegistryOrder) {
  RegistryEntry* root = store_->root("HwService");
  RegistryEntry* pci = store_->addEntry(root, "pci", "HwPCIDevice");
  store_->addEntry(pci, "s1", "HwSerialBSDClient", serialClient("HwSerialStream", "modem", "/dev/cu.first"));
  store_->addEntry(pci, "s2", "HwSerialBSDClient", serialClient("HwRS232Type", "serial", "/dev/cu.rs232"));
  store_->addEntry(pci, "s3", "OtherClass", serialClient("HwSerialStream", "other", "/dev/cu.other"));
  RegistryEntry* usb = store_->addEntry(root, "usb", "HwUSBHub");
  store_->addEntry(usb, "s4", "HwSerialBSDClient", serialClient("HwSerialStream", "nopath", nullptr));
  store_->addEntry(usb, "s5", "HwSerialBSDClient", serialClient("HwSerialStream", nullptr, "/dev/cu.noname"));
  store_->addEntry(usb, "s6", "HwSerialBSDClient", serialClient("HwSerialStream", "modem", "/dev/cu.second"));

  SerialPortList list;
  std::vector<std::string> descriptions;
  for (const PortInfo& port : *list.serialPorts()) descriptions.push_back(port.description());
  EXPECT_EQ(descriptions, (std::vector<std::string>{
                              " Port Name: modem, BSD Path: /dev/cu.first",
                              " Port Name: nopath, BSD Path: (null)",
                              " Port Name: (null), BSD Path: /dev/cu.noname",
                              " Port Name: modem, BSD Path: /dev/cu.second",
                          }));
  EXPECT_EQ(list.serialPortNames(), (std::vector<std::string>{"modem", "nopath", "", "modem"}));

  struct Lookup {
    std::string key;
    std::optional<std::string> pathForName, nameForPath;
  } lookups[] = {
      {"modem", "/dev/cu.second", std::nullopt},  // the later port wins
      {"Modem", std::nullopt, std::nullopt},       // exact case only
      {"nopath", std::nullopt, std::nullopt},
      {"serial", std::nullopt, std::nullopt},      // not a stream port
      {"/dev/cu.first", std::nullopt, "modem"},
      {"/dev/cu.noname", std::nullopt, std::nullopt},
      {"", std::nullopt, std::nullopt},
  };
  for (const Lookup& l : lookups) {
    EXPECT_EQ(list.serialPortPathForSerialPortName(l.key), l.pathForName) << l.key;
    EXPECT_EQ(list.serialPortNameForSerialPortPath(l.key), l.nameForPath) << l.key;
  }
}

TEST_F(SerialPorts, SharedListIsReadOnce) {
  RegistryEntry* root = store_->root("HwService");
  store_->addEntry(root, "s1", "HwSerialBSDClient", serialClient("HwSerialStream", "modem", "/dev/cu.modem"));
  const auto shared = SerialPortList::serialPortList();
  store_->addEntry(root, "s2", "HwSerialBSDClient", serialClient("HwSerialStream", "late", "/dev/cu.late"));
  EXPECT_EQ(SerialPortList::serialPortList(), shared);
  EXPECT_EQ(shared->serialPortNames(), std::vector<std::string>{"modem"});
}

}  // namespace
}  // namespace xr

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Registry.h"
#include "platform/RegistryStore.h"
#include "support/RegistryTesting.h"

namespace xr {
namespace {

using test::allGivenBack;

// HwService, in pre-order: pci modem driver serial usb m1 pci x.
std::shared_ptr<RegistryStore> sampleRegistry() {
  auto store = RegistryStore::create();
  auto* root = store->root("HwService");
  auto* pci = store->addEntry(root, "pci", "HwPCIDevice");
  auto* modem = store->addEntry(pci, "modem", "ModemA", makeDictionary({{"compatible", dataWithString("vantik")}}));
  store->addEntry(modem, "driver", "Driver", makeDictionary({{"PkBundleIdentifier", "com.example.drv"}}));
  store->addEntry(pci, "serial", "HwSerialBSDClient",
                  makeDictionary({{"HwSerialBSDClientType", "HwSerialStream"}, {"HwTTYDevice", "modem"},
                                  {"Ports", makeArray({1, 2})}}));
  auto* usb = store->addEntry(root, "usb", "HwUSBHub");
  store->addEntry(usb, "m1", "TarvoSM56KUSBModemFamily", makeDictionary({{"locationID", 0x1a100000}}));
  auto* pci2 = store->addEntry(root, "pci", "Other");
  store->addEntry(pci2, "x", "HwSerialBSDClient", makeDictionary({{"HwSerialBSDClientType", "HwRS232"}}));
  store->addEntry("HwDeviceTree:", "zel-io", "Node");
  store->addEntry("HwDeviceTree:zel-io", "i2c", "Node");
  return store;
}

std::string nameOf(RegistryHandle entry) {
  const RegistryEntry* e = RegistryStore::entryOfHandle(entry);
  return e ? e->name() + "(" + e->className() + ")" : "none";
}

// The names an iterator gives, each handle given back; the iterator too.
std::vector<std::string> drain(RegistryHandle iterator) {
  std::vector<std::string> names;
  while (RegistryHandle e = RegistryIteratorNext(iterator)) {
    names.push_back(RegistryStore::entryOfHandle(e)->name());
    EXPECT_EQ(RegistryRelease(e), kRegistrySuccess);
  }
  EXPECT_EQ(RegistryRelease(iterator), kRegistrySuccess);
  return names;
}

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(RegistryOpen(&access_), kRegistrySuccess); }
  void TearDown() override {
    EXPECT_EQ(RegistryClose(access_), kRegistrySuccess);
    EXPECT_TRUE(allGivenBack(*store_));
  }
  std::shared_ptr<RegistryStore> store_ = sampleRegistry();
  ScopedRegistry installed_{store_};
  RegistryHandle access_ = 0;
};

TEST_F(RegistryTest, PathsWalkChildNamesAndTakeTheFirstOfAName) {
  struct Case {
    const char* path;
    const char* found;
  } cases[] = {
      {"HwDeviceTree:zel-io/i2c", "i2c(Node)"},
      {"HwService:pci", "pci(HwPCIDevice)"},
      {"HwService:pci/modem/driver", "driver(Driver)"},
      {"HwService:/pci//modem/", "modem(ModemA)"},
      {"HwService:", "Root(HwRegistryEntry)"},
      {"HwService:pci/x", "none"},  // x hangs under the second "pci"
      {"HwService:pci/modem/driver/deeper", "none"},
      {"HwDeviceTree:pci", "none"},
      {"pci", "none"},
      {"HwOther:pci", "none"},
  };
  for (const auto& c : cases) {
    RegistryHandle e = RegistryEntryFromPath(access_, c.path);
    EXPECT_EQ(nameOf(e), c.found) << c.path;
    if (e) {
      EXPECT_EQ(RegistryRelease(e), kRegistrySuccess);
    }
  }
  EXPECT_EQ(RegistryEntryFromPath(0, "HwService:pci"), 0u);
}

TEST_F(RegistryTest, PlaneIteratorIsDepthFirstPreOrder) {
  RegistryHandle it = 0;
  ASSERT_EQ(RegistryPlaneIterator(access_, "HwService", true, &it), kRegistrySuccess);
  EXPECT_EQ(drain(it), (std::vector<std::string>{"pci", "modem", "driver", "serial", "usb", "m1", "pci", "x"}));
  ASSERT_EQ(RegistryPlaneIterator(access_, "HwService", false, &it), kRegistrySuccess);
  EXPECT_EQ(drain(it), (std::vector<std::string>{"pci", "usb", "pci"}));
  ASSERT_EQ(RegistryPlaneIterator(access_, "HwDeviceTree", true, &it), kRegistrySuccess);
  EXPECT_EQ(drain(it), (std::vector<std::string>{"zel-io", "i2c"}));

  it = 7;
  EXPECT_NE(RegistryPlaneIterator(access_, "HwNoSuchPlane", true, &it), kRegistrySuccess);
  EXPECT_EQ(it, 0u);
  // An iterator at its end stays there.
  ASSERT_EQ(RegistryPlaneIterator(access_, "HwDeviceTree", false, &it), kRegistrySuccess);
  RegistryHandle e = RegistryIteratorNext(it);
  ASSERT_NE(e, 0u);
  EXPECT_EQ(RegistryRelease(e), kRegistrySuccess);
  EXPECT_EQ(RegistryIteratorNext(it), 0u);
  EXPECT_EQ(RegistryIteratorNext(it), 0u);
  EXPECT_EQ(RegistryRelease(it), kRegistrySuccess);
}

TEST_F(RegistryTest, MatchingComparesClassExactlyAndEveryOtherKey) {
  struct Case {
    const char* what;
    DictionaryRef description;
    std::vector<std::string> found;
  } cases[] = {
      {"class alone", RegistryMatchClass("HwSerialBSDClient"), {"serial", "x"}},
      {"class and property", makeDictionary({{"class", "HwSerialBSDClient"}, {"HwSerialBSDClientType", "HwSerialStream"}}),
       {"serial"}},
      {"property absent", makeDictionary({{"class", "HwSerialBSDClient"}, {"Missing", 1}}), {}},
      {"class prefix", RegistryMatchClass("HwSerial"), {}},
      {"no class", makeDictionary({{"HwSerialBSDClientType", "HwRS232"}}), {}},
      {"integer property", makeDictionary({{"class", "TarvoSM56KUSBModemFamily"}, {"locationID", 0x1a100000}}), {"m1"}},
      {"same number as text", makeDictionary({{"class", "TarvoSM56KUSBModemFamily"}, {"locationID", "438304768"}}), {}},
      {"byte string", makeDictionary({{"class", "ModemA"}, {"compatible", dataWithString("vantik")}}), {"modem"}},
      {"array by contents", makeDictionary({{"class", "HwSerialBSDClient"}, {"Ports", makeArray({1, 2})}}), {"serial"}},
  };
  for (auto& c : cases) {
    RegistryHandle it = 0;
    ASSERT_EQ(RegistryMatchingEntries(access_, c.description, &it), kRegistrySuccess) << c.what;
    EXPECT_EQ(drain(it), c.found) << c.what;
  }
  EXPECT_EQ(RegistryMatchClass(""), nullptr);
  RegistryHandle it = 5;
  EXPECT_NE(RegistryMatchingEntries(access_, nullptr, &it), kRegistrySuccess);
  EXPECT_NE(RegistryMatchingEntries(0, RegistryMatchClass("Driver"), &it), kRegistrySuccess);
  EXPECT_EQ(it, 0u);
}

TEST_F(RegistryTest, FirstChildInThePlane) {
  RegistryHandle modem = RegistryEntryFromPath(access_, "HwService:pci/modem");
  RegistryHandle driver = RegistryEntryFromPath(access_, "HwService:pci/modem/driver");
  RegistryHandle child = 9;
  ASSERT_EQ(RegistryEntryChild(modem, "HwService", &child), kRegistrySuccess);
  EXPECT_EQ(nameOf(child), "driver(Driver)");
  EXPECT_NE(child, driver);  // every lookup gives a handle of its own
  EXPECT_EQ(RegistryRelease(child), kRegistrySuccess);

  EXPECT_EQ(RegistryEntryChild(driver, "HwService", &child), kRegistryNotFound);
  EXPECT_EQ(child, 0u);
  EXPECT_NE(RegistryEntryChild(modem, "HwDeviceTree", &child), kRegistrySuccess);
  EXPECT_EQ(RegistryEntryChild(access_, "HwService", &child), kRegistryBadArgument);
  EXPECT_EQ(RegistryRelease(modem), kRegistrySuccess);
  EXPECT_EQ(RegistryRelease(driver), kRegistrySuccess);
}

TEST_F(RegistryTest, PropertiesAreCopiesThatCountUntilDropped) {
  RegistryHandle serial = RegistryEntryFromPath(access_, "HwService:pci/serial");
  EXPECT_EQ(RegistryEntryProperty(serial, "Missing"), nullptr);
  EXPECT_EQ(RegistryEntryProperty(0, "HwTTYDevice"), nullptr);
  {
    RegistryValue tty = RegistryEntryProperty(serial, "HwTTYDevice");
    RegistryValue ports = RegistryEntryProperty(serial, "Ports");
    ASSERT_TRUE(tty && ports);
    EXPECT_EQ(tty->stringValue(), "modem");
    EXPECT_EQ(store_->outstanding().values, 2);
    ports->array()->clear();  // the caller's copy, not the registry's
    DictionaryRef all;
    ASSERT_EQ(RegistryEntryProperties(serial, &all), kRegistrySuccess);
    EXPECT_EQ(store_->outstanding().values, 3);
    EXPECT_EQ(all->get("Ports"), Value(makeArray({1, 2})));
    EXPECT_EQ(all->size(), 3u);
  }
  EXPECT_EQ(store_->outstanding().values, 0);
  EXPECT_EQ(RegistryRelease(serial), kRegistrySuccess);
}

TEST_F(RegistryTest, HandlesAreCountedAndGivenBackOnce) {
  EXPECT_EQ(store_->outstanding(), (RegistryOutstanding{1, 0, 0}));  // the fixture's access handle
  RegistryHandle it = 0;
  ASSERT_EQ(RegistryPlaneIterator(access_, "HwService", true, &it), kRegistrySuccess);
  RegistryHandle a = RegistryIteratorNext(it);
  RegistryHandle b = RegistryIteratorNext(it);
  EXPECT_EQ(store_->outstanding(), (RegistryOutstanding{4, 0, 0}));
  EXPECT_NE(a, b);

  EXPECT_EQ(RegistryRelease(a), kRegistrySuccess);
  EXPECT_EQ(RegistryRelease(a), kRegistryBadArgument);
  EXPECT_EQ(RegistryRelease(access_), kRegistryBadArgument);  // access handles are closed
  EXPECT_EQ(RegistryClose(b), kRegistryBadArgument);
  EXPECT_EQ(store_->outstanding(), (RegistryOutstanding{3, 0, 0}));
  EXPECT_EQ(RegistryRelease(b), kRegistrySuccess);
  EXPECT_EQ(RegistryRelease(it), kRegistrySuccess);
  EXPECT_EQ(RegistryIteratorNext(it), 0u);  // a given-back iterator gives nothing
}

TEST(RegistryInstallTest, ScopedRegistryRestoresThePreviousOneAndHandlesKeepTheirStore) {
  auto outer = sampleRegistry();
  auto inner = RegistryStore::create();
  ScopedRegistry a(outer);
  RegistryHandle outerAccess = 0;
  ASSERT_EQ(RegistryOpen(&outerAccess), kRegistrySuccess);
  RegistryHandle m1 = RegistryEntryFromPath(outerAccess, "HwService:usb/m1");
  {
    ScopedRegistry b(inner);
    EXPECT_EQ(RegistryStore::current(), inner);
    RegistryHandle innerAccess = 0;
    ASSERT_EQ(RegistryOpen(&innerAccess), kRegistrySuccess);
    EXPECT_EQ(RegistryEntryFromPath(innerAccess, "HwService:usb/m1"), 0u);
    EXPECT_EQ(inner->outstanding().handles, 1);
    // Handles taken from the outer registry still reach it.
    EXPECT_EQ(RegistryEntryProperty(m1, "locationID")->integer(), 0x1a100000);
    EXPECT_EQ(RegistryRelease(m1), kRegistrySuccess);
    EXPECT_EQ(RegistryClose(innerAccess), kRegistrySuccess);
  }
  EXPECT_EQ(RegistryStore::current(), outer);
  EXPECT_EQ(RegistryClose(outerAccess), kRegistrySuccess);
  EXPECT_TRUE(allGivenBack(*outer));
  EXPECT_TRUE(allGivenBack(*inner));
}

TEST(RegistryStoreTest, SetPropertyOnTheEntryFoundByAnother) {
  auto store = sampleRegistry();
  const RegistryEntry* serial = store->findEntry("HwService", "HwTTYDevice", "modem");
  ASSERT_NE(serial, nullptr);
  EXPECT_EQ(serial->name(), "serial");
  store->setProperty(serial, "HwCalloutDevice", "/dev/pts/9");
  EXPECT_EQ(store->property(serial, "HwCalloutDevice"), Value("/dev/pts/9"));
  EXPECT_EQ(store->findEntry("HwDeviceTree", "HwTTYDevice", "modem"), nullptr);
  EXPECT_EQ(store->addEntry("HwService:no/such", "n", "C"), nullptr);
}

}  // namespace
}  // namespace xr

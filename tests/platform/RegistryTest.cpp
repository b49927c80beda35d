#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Registry.h"
#include "platform/RegistryObject.h"
#include "platform/RegistryStore.h"
#include "support/RegistryTesting.h"

namespace xr {
namespace {

// HwService, in pre-order: pci modem driver serial usb m1 pci x.
std::shared_ptr<RegistryStore> sampleRegistry() {
  auto store = RegistryStore::create();
  auto* root = store->root("HwService");
  auto* pci = store->addEntry(root, "pci", "HwPCIDevice");
  auto* modem = store->addEntry(pci, "modem", "ModemA", makeDictionary({{"compatible", dataWithString("vantik")}}));
  store->addEntry(modem, "driver", "Driver");
  store->addEntry(pci, "serial", "HwSerialBSDClient",
                  makeDictionary({{"HwSerialBSDClientType", "HwSerialStream"}, {"HwTTYDevice", "modem"},
                                  {"Ports", makeArray({1, 2})}}));
  store->addEntry(store->addEntry(root, "usb", "HwUSBHub"), "m1", "TarvoSM56KUSBModemFamily",
                  makeDictionary({{"locationID", 0x1a100000}}));
  store->addEntry(store->addEntry(root, "pci", "Other"), "x", "HwSerialBSDClient",
                  makeDictionary({{"HwSerialBSDClientType", "HwRS232"}}));
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
  while (const RegistryObject e{RegistryIteratorNext(iterator)})
    names.push_back(RegistryStore::entryOfHandle(e.get())->name());
  EXPECT_EQ(RegistryIteratorNext(iterator), 0u);  // an iterator at its end stays there
  EXPECT_EQ(RegistryRelease(iterator), kRegistrySuccess);
  return names;
}

// Every test ends with all handles, values and ports given back.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(RegistryOpen(&access_), kRegistrySuccess); }
  void TearDown() override {
    EXPECT_EQ(RegistryClose(access_), kRegistrySuccess);
    EXPECT_TRUE(test::allGivenBack(*store_));
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
    const RegistryObject e{RegistryEntryFromPath(access_, c.path)};
    EXPECT_EQ(nameOf(e.get()), c.found) << c.path;
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
}

// A removed entry leaves its plane with all below it; a handle out for it still reads it.
TEST_F(RegistryTest, RemovedEntriesLeaveThePlaneAndStayReadable) {
  const RegistryObject modem{RegistryEntryFromPath(access_, "HwService:pci/modem")};
  const RegistryEntry* entry = RegistryStore::entryOfHandle(modem.get());
  const size_t before = store_->entryCount();
  EXPECT_TRUE(store_->removeEntry(entry));
  EXPECT_EQ(store_->entryCount(), before - 2);
  RegistryHandle it = 0;
  ASSERT_EQ(RegistryPlaneIterator(access_, "HwService", true, &it), kRegistrySuccess);
  EXPECT_EQ(drain(it), (std::vector<std::string>{"pci", "serial", "usb", "m1", "pci", "x"}));
  EXPECT_EQ(RegistryEntryFromPath(access_, "HwService:pci/modem/driver"), 0u);
  EXPECT_TRUE(RegistryEntryProperty(modem.get(), "compatible"));
  // Once only, and never a root or what went with it.
  EXPECT_FALSE(store_->removeEntry(entry));
  EXPECT_FALSE(store_->removeEntry(store_->firstChild(entry, "HwService")));
  EXPECT_FALSE(store_->removeEntry(store_->root("HwService")));
  EXPECT_EQ(store_->entryCount(), before - 2);
  // Kept while a handle is out (a watch frees them between reports, when none is).
  EXPECT_EQ(store_->freeRemovedEntries(), 1u);
  EXPECT_TRUE(RegistryEntryProperty(modem.get(), "compatible"));
}

TEST_F(RegistryTest, MatchingComparesClassExactlyAndEveryOtherKey) {
  auto with = [](const char* cls, const char* key, Value value) {
    return makeDictionary({{"class", cls}, {key, std::move(value)}});
  };
  struct Case {
    const char* what;
    DictionaryRef description;
    std::vector<std::string> found;
  } cases[] = {
      {"class alone", RegistryMatchClass("HwSerialBSDClient"), {"serial", "x"}},
      {"class and property", with("HwSerialBSDClient", "HwSerialBSDClientType", "HwSerialStream"), {"serial"}},
      {"property absent", with("HwSerialBSDClient", "Missing", 1), {}},
      {"class prefix", RegistryMatchClass("HwSerial"), {}},
      {"no class", makeDictionary({{"HwSerialBSDClientType", "HwRS232"}}), {}},
      {"integer property", with("TarvoSM56KUSBModemFamily", "locationID", 0x1a100000), {"m1"}},
      {"same number as text", with("TarvoSM56KUSBModemFamily", "locationID", "438304768"), {}},
      {"byte string", with("ModemA", "compatible", dataWithString("vantik")), {"modem"}},
      {"array by contents", with("HwSerialBSDClient", "Ports", makeArray({1, 2})), {"serial"}},
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

TEST_F(RegistryTest, PropertiesAreCopiesThatCountUntilDropped) {
  const RegistryObject entry{RegistryEntryFromPath(access_, "HwService:pci/serial")};
  const RegistryHandle serial = entry.get();
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
  }
}

TEST_F(RegistryTest, HandlesAreCountedAndGivenBackOnce) {
  RegistryHandle it = 0;
  ASSERT_EQ(RegistryPlaneIterator(access_, "HwService", true, &it), kRegistrySuccess);
  RegistryHandle a = RegistryIteratorNext(it);
  RegistryHandle b = RegistryIteratorNext(it);
  EXPECT_EQ(store_->outstanding(), (RegistryOutstanding{4, 0, 0}));  // with the fixture's access handle
  EXPECT_EQ(RegistryRelease(a), kRegistrySuccess);
  EXPECT_EQ(RegistryRelease(a), kRegistryBadArgument);
  EXPECT_EQ(RegistryRelease(access_), kRegistryBadArgument);  // access handles are closed
  EXPECT_EQ(RegistryClose(b), kRegistryBadArgument);
  RegistryHandle child = 9;
  EXPECT_EQ(RegistryEntryChild(access_, "HwService", &child), kRegistryBadArgument);
  // b is "modem", whose child "driver" is in the other plane.
  EXPECT_NE(RegistryEntryChild(b, "HwDeviceTree", &child), kRegistrySuccess);
  EXPECT_EQ(child, 0u);
  EXPECT_EQ(store_->outstanding(), (RegistryOutstanding{3, 0, 0}));
  EXPECT_EQ(RegistryRelease(b), kRegistrySuccess);
  EXPECT_EQ(RegistryRelease(it), kRegistrySuccess);
  EXPECT_EQ(RegistryIteratorNext(it), 0u);  // a given-back iterator gives nothing
}

}  // namespace
}  // namespace xr

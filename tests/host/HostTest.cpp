// The host's pieces in-process: the reporter base's "_items" contract, machine profiles giving
// back the platform root, and the modem reporter on a machine with nothing to report.
#include <gtest/gtest.h>

#include <filesystem>

#include "host/MachineProfile.h"
#include "host/XRReporter.h"
#include "platform/PlatformRoot.h"
#include "platform/RegistryStore.h"
#include "reporter/XRModemReporter.h"
#include "support/TempDirectory.h"

namespace xr {
namespace {
using test::TempDirectory;

TEST(XRReporter, KeepsTheCallersDictionaryWhenItHasItems) {
  auto items = makeArray({Value(makeDictionary({{"_name", "earlier"}}))});
  auto given = makeDictionary({{"_items", items}, {"title", "kept"}});
  XRReporter reporter;
  EXPECT_EQ(reporter.updateDictionary(given), given);
  EXPECT_EQ(given->get("_items").array(), items);
}

TEST(XRReporter, GivesAnItemsArrayToEveryOtherDictionary) {
  XRReporter reporter;
  for (const DictionaryRef& given : {DictionaryRef(), makeDictionary(), makeDictionary({{"title", "kept"}}),
                                     makeDictionary({{"_items", "not an array"}})}) {
    DictionaryRef report = reporter.updateDictionary(given);
    ASSERT_TRUE(report);
    ArrayRef items = report->get("_items").array();
    ASSERT_TRUE(items);
    EXPECT_TRUE(items->empty());
    if (given && given->contains("title")) {
      EXPECT_EQ(report->get("title"), Value("kept"));
    }
  }
}

TEST(MachineProfile, SetsThePlatformRootForItsLifeOnly) {
  ScopedPlatformRoot outer("/elsewhere");
  TempDirectory machine;
  machine.makeDirectory("root");
  std::string error;
  {
    auto profile = MachineProfile::open(machine.path() + "/", &error);
    ASSERT_TRUE(profile) << error;
    EXPECT_EQ(platformRoot(), machine.path() + "/root");
    EXPECT_EQ(resolvePath("/var/db/modem.prefs"), machine.path() + "/root/var/db/modem.prefs");
  }
  EXPECT_EQ(platformRoot(), "/elsewhere");
}

TEST(MachineProfile, FailingToOpenLeavesThePlatformRootAlone) {
  ScopedPlatformRoot outer("/elsewhere");
  TempDirectory machine;
  machine.write("modem.json", "{");
  std::string error;
  EXPECT_FALSE(MachineProfile::open(machine.path(), &error));
  EXPECT_EQ(error.find(machine.path() + "/modem.json"), 0u) << error;
  EXPECT_EQ(platformRoot(), "/elsewhere");
}

TEST(MachineProfile, InstallsItsRegistryForItsLifeOnly) {
  auto outer = RegistryStore::create();
  ScopedRegistry installed(outer);
  TempDirectory machine;
  machine.write("registry.json", R"({"HwService": {"name": "Root", "class": "R"},
    "HwDeviceTree": {"name": "dt", "class": "Root", "children": [{"name": "zel-io", "class": "Z"}]}})");
  std::string error;
  {
    auto profile = MachineProfile::open(machine.path(), &error);
    ASSERT_TRUE(profile) << error;
    EXPECT_NE(RegistryStore::current()->entryAtPath("HwDeviceTree:zel-io"), nullptr);
  }
  EXPECT_EQ(RegistryStore::current(), outer);
  {
    // Without registry.json the machine's registry is empty, not the caller's.
    outer->addEntry("HwDeviceTree:", "zel-io", "Z");
    TempDirectory bare;
    auto profile = MachineProfile::open(bare.path(), &error);
    ASSERT_TRUE(profile) << error;
    EXPECT_EQ(RegistryStore::current()->entryAtPath("HwDeviceTree:zel-io"), nullptr);
  }
}

// The modem reporter on a machine described by registry (empty: no registry.json); the items
// of the report after an earlier item.
Array modemReportItems(const std::string& registry, const Value& earlier) {
  TempDirectory machine;
  if (!registry.empty()) std::filesystem::copy_file(registry, machine.file("registry.json"));
  std::string error;
  auto profile = MachineProfile::open(machine.path(), &error);
  EXPECT_TRUE(profile) << error;
  auto given = makeDictionary({{"_items", makeArray({earlier})}});
  XRModemReporter reporter;
  DictionaryRef report = reporter.updateDictionary(given);
  EXPECT_EQ(report, given);
  return *report->get("_items").array();
}

TEST(XRModemReporter, EmptyMachineAddsNoItemAndKeepsEarlierOnes) {
  auto earlier = Value(makeDictionary({{"_name", "earlier"}}));
  EXPECT_EQ(modemReportItems("", earlier), Array{earlier});
}

TEST(XRModemReporter, FoundModemIsAppendedAsNamedItem) {
  auto earlier = Value(makeDictionary({{"_name", "earlier"}}));
  Array items = modemReportItems(XR_SOURCE_DIR "/tests/hardware/snapshots/i2s.json", earlier);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0], earlier);
  DictionaryRef item = items[1].dictionary();
  ASSERT_TRUE(item);
  EXPECT_EQ(item->get("_name"), Value("xrmodem_information"));
  EXPECT_GT(item->size(), 1u);
}

}  // namespace
}  // namespace xr

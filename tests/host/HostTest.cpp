// The host's pieces in-process: the reporter base's "_items" contract, machine profiles giving
// back the platform root and registry, and the modem reporter keeping earlier items.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "host/TextReport.h"
#include "profile/MachineProfile.h"
#include "host/XRReporter.h"
#include "platform/PlatformRoot.h"
#include "platform/RegistryStore.h"
#include "reporter/XRModemReporter.h"
#include "support/TempDirectory.h"

namespace xr {
namespace {
using test::TempDirectory;

TEST(XRReporter, EveryReportHasAnItemsArray) {
  XRReporter reporter;
  for (const DictionaryRef& given : {DictionaryRef(), makeDictionary({{"title", "kept"}}),
                                     makeDictionary({{"_items", "not an array"}, {"title", "kept"}})}) {
    DictionaryRef report = reporter.updateDictionary(given);
    ASSERT_TRUE(report && report->get("_items").array());
    EXPECT_TRUE(report->get("_items").array()->empty());
    if (given) {
      EXPECT_EQ(report->get("title"), Value("kept"));
    }
  }
}

// An open profile sets the platform root and installs its registry (an empty one without
// registry.json, or with a FIFO or directory there); closed, or failing to open, it leaves the
// caller's.
TEST(MachineProfile, SetsRootAndRegistryForItsLifeOnly) {
  ScopedPlatformRoot outerRoot("/elsewhere");
  auto outer = RegistryStore::create();
  outer->addEntry("HwDeviceTree:", "outer", "Z");
  ScopedRegistry installed(outer);
  TempDirectory machine, bare, broken;
  for (const TempDirectory* dir : {&machine, &broken}) {
    dir->write("registry.json", R"({"HwService": {"name": "Root", "class": "R"},
      "HwDeviceTree": {"name": "dt", "class": "Root", "children": [{"name": "machine", "class": "Z"}]}})");
  }
  ASSERT_EQ(::mkfifo(bare.file("registry.json").c_str(), 0600), 0);
  bare.makeDirectory("modem.json");
  std::string error;
  for (const TempDirectory* dir : {&machine, &bare}) {
    {
      auto profile = MachineProfile::open(dir->path() + "/", &error);
      ASSERT_TRUE(profile) << error;
      EXPECT_EQ(resolvePath("/var/db/modem.prefs"), dir->path() + "/root/var/db/modem.prefs");
      EXPECT_EQ(RegistryStore::current()->entryAtPath("HwDeviceTree:machine") != nullptr, dir == &machine);
      EXPECT_EQ(RegistryStore::current()->entryAtPath("HwDeviceTree:outer"), nullptr);
    }
    EXPECT_EQ(platformRoot(), "/elsewhere");
    EXPECT_EQ(RegistryStore::current(), outer);
  }
  broken.write("modem.json", "{");
  EXPECT_FALSE(MachineProfile::open(broken.path(), &error));
  EXPECT_EQ(error.find(broken.file("modem.json")), 0u) << error;
  EXPECT_EQ(platformRoot(), "/elsewhere");
  EXPECT_EQ(RegistryStore::current(), outer);
}

// The modem reporter appends its item to what an earlier reporter left.
TEST(XRModemReporter, FoundModemIsAppendedAfterEarlierItems) {
  std::string error;
  auto profile = MachineProfile::open(XR_SOURCE_DIR "/examples/i2s-modem", &error);
  ASSERT_TRUE(profile) << error;
  auto earlier = Value(makeDictionary({{"_name", "earlier"}}));
  auto given = makeDictionary({{"_items", makeArray({earlier})}});
  ASSERT_EQ(XRModemReporter().updateDictionary(given), given);
  const Array& items = *given->get("_items").array();
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0], earlier);
}

// What came from outside reaches the terminal as text: control characters (C0, DEL, C1 in
// UTF-8), escape sequences and bytes that are not UTF-8 are shown as \xNN; UTF-8 text stays.
TEST(TextReport, EscapesWhatItDidNotWriteItself) {
  struct Case {
    std::string value, shown;
  } cases[] = {
      {"caf\xc3\xa9 \xe2\x82\xac \xef\xbf\xbd", "caf\xc3\xa9 \xe2\x82\xac \xef\xbf\xbd"},
      {"\x1b[2J\x1b]0;title\x07", "\\x1b[2J\\x1b]0;title\\x07"},
      {"OK\r\nModel: forged", "OK\\x0d\\x0aModel: forged"},
      {"tab\there\x7f", "tab\\x09here\\x7f"},
      {"\xc2\x9b" "31m", "\\xc2\\x9b31m"},                    // C1 CSI written in UTF-8
      {"\x80\xff\xc3(\xed\xa0\x80", "\\x80\\xff\\xc3(\\xed\\xa0\\x80"},  // strays, cut short, surrogate
      {"\xf0\x9f\x93\x9e \xf0\x9f\x93", "\xf0\x9f\x93\x9e \\xf0\\x9f\\x93"},
  };
  const Bundle strings("/nonexistent");
  for (const Case& c : cases) {
    const DictionaryRef item = makeDictionary({{"_name", "item"}, {"key\x1b", c.value}});
    const std::string text = textReport("Title\n", makeDictionary({{"_items", makeArray({Value(item)})}}), strings);
    EXPECT_EQ(text, "Title\\x0a:\n\n    item:\n\n      key\\x1b: " + c.shown + "\n\n") << c.shown;
  }
}

}  // namespace
}  // namespace xr

// xrreport, run as a real process: formats, exit statuses and the messages of broken machine
// profiles and plug-in bundles. Each test installs a copy of xrreport in a directory of its own,
// with the plug-in bundles it needs beside it.
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "host/XRReporter.h"
#include "platform/Json.h"
#include "support/RunProgram.h"
#include "support/TempDirectory.h"

// g++ 12 takes the copies of Value's variant below for uninitialised reads (as the sanitizer
// builds do everywhere); other compilers see nothing.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace xr {
namespace {
namespace fs = std::filesystem;
using test::ProgramResult;
using test::TempDirectory;

const std::string kTestPlugin = XR_TEST_PLUGIN_DIR "/HostTest.so";
const std::string kTestItem = XR_SOURCE_DIR "/tests/support/hostplugin/Item.json";

// xrreport copied into a directory of its own (or a folder of it), so the bundles beside it
// are the test's. XRREPORT_PLUGIN_PATH is set to pluginPath, so the test's own does not count.
struct Installation : TempDirectory {
  explicit Installation(const std::string& binary = "xrreport")
      : binary_(copy(XR_BINARY_DIR "/bin/xrreport", binary)) {}
  // asUser: as a user's process; root (as the tests may run) loses its right to pass any
  // file's permissions, so a file mode of 0 means what it means to everyone else.
  ProgramResult run(const std::vector<std::string>& args, const std::string& mode = "",
                    const std::string& pluginPath = "", bool asUser = false) const {
    std::vector<std::string> command{binary_};
    if (asUser && ::geteuid() == 0)
      command.insert(command.begin(), {"/usr/bin/setpriv", "--inh-caps=-dac_override,-dac_read_search",
                                       "--bounding-set=-dac_override,-dac_read_search"});
    command.insert(command.end(), args.begin(), args.end());
    return test::runProgram(command.front(), {command.begin() + 1, command.end()},
                            {{"HOSTTEST_MODE", mode}, {"XRREPORT_PLUGIN_PATH", pluginPath}});
  }

 private:
  std::string binary_;
};

// DIR/PATH.xrplugin holding the given shared object (as NAME.so, NAME the last part of PATH),
// the test string table and the test plug-in's item.
void addBundle(const TempDirectory& dir, const std::string& path, const std::string& object = kTestPlugin) {
  dir.copy(object, path + ".xrplugin/" + fs::path(path).filename().string() + ".so");
  dir.copy(XR_SOURCE_DIR "/tests/support/hostplugin/Localizable.json", path + ".xrplugin/Localizable.json");
  dir.copy(kTestItem, path + ".xrplugin/Item.json");
}

// The test plug-in's item, loaded from bundle with the platform root at root.
DictionaryRef item(const std::string& bundle, const std::string& root) {
  auto item = mutableCopy(readJsonFile(kTestItem).value.dictionary());
  if (!item) return makeDictionary();
  item->set("hosttest_bundle", bundle);
  item->set("hosttest_root", root);
  return item;
}

// JSON: an array of one report per plug-in, in bundle order. Text: the keys through the
// plug-in's string table.
TEST(XrreportFormats, JsonInBundleOrderAndTextThroughTheStringTable) {
  Installation install;
  addBundle(install, "Beta");
  addBundle(install, "Alpha");
  TempDirectory machine;
  ProgramResult r = install.run({"--machine", machine.path(), "--format", "json"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  JsonResult parsed = parseJson(r.out);
  ASSERT_TRUE(parsed.ok()) << parsed.error;
  const ArrayRef expected = makeArray();
  for (const char* bundle : {"Alpha.xrplugin", "Beta.xrplugin"}) {
    const Value entry(item(bundle, machine.file("root")));  // copied: g++ 12 misreads moving the variant
    const Value report(makeDictionary({{"_items", makeArray({entry})}}));
    expected->push_back(report);
  }
  EXPECT_EQ(parsed.value, Value(expected)) << r.out;

  fs::remove_all(install.file("Beta.xrplugin"));
  const std::string text =
      "Alpha:\n\n    Test Item:\n\n"
      "      Bundle: Alpha.xrplugin\n"
      "      Platform Root: /\n"
      "      Count: 3\n"
      "      Ratio: 0.5\n"
      "      Flag: Yes\n"
      "      Bytes: <41540d0a 4f4b>\n"
      "      List:\n        one\n        two\n"
      "      Nested:\n        Inner: deep\n"
      "      hosttest_untranslated: shown by its key\n\n";
  EXPECT_EQ(install.run({"--format", "text"}).out, text);
  EXPECT_EQ(install.run({}, "no-items").out, "Alpha:\n\n    No information found.\n\n");
}

// A command line xrreport cannot take (here a format it does not know): status 2, nothing on
// stdout, on stderr a first line naming what was wrong with it, then the usage. (Which command
// lines are refused is the parser library's business; --help is the install test's.)
TEST(XrreportCommandLine, RefusedWithStatus2AndTheUsage) {
  const ProgramResult r = Installation().run({"--format", "xml"});
  EXPECT_TRUE(r.exited && r.status == 2) << r.status;
  EXPECT_EQ(r.out, "");
  const std::string first = r.err.substr(0, r.err.find('\n'));
  EXPECT_TRUE(first.starts_with("xrreport: ") && first.find("xml") != std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Usage: xrreport"), std::string::npos) << r.err;
}

// XRREPORT_PLUGIN_PATH's directories in order, then the executable's, then the installed
// plug-in directory found from the executable's: a bundle name found first hides later ones.
// Bundles go by name whatever their directory; --version shows which bundle was taken.
TEST(XrreportPluginPath, FirstBundleOfANameIsLoadedAndListed) {
  Installation install("bin/xrreport");
  const std::string installed = "bin/" XR_PLUGINDIR_FROM_BINDIR;
  addBundle(install, "first/Beta");
  addBundle(install, "second/Beta", XR_TEST_PLUGIN_DIR "/OtherAbi.so");
  addBundle(install, "second/Gamma");
  addBundle(install, "bin/Alpha");
  addBundle(install, "bin/Gamma", XR_TEST_PLUGIN_DIR "/OtherAbi.so");
  addBundle(install, installed + "/Alpha", XR_TEST_PLUGIN_DIR "/OtherAbi.so");
  addBundle(install, installed + "/Delta");
  const auto at = [&](const std::string& bundle) {
    return " 2.5-test " + fs::path(install.file(bundle + ".xrplugin")).lexically_normal().string() + "\n";
  };
  // Empty entries around and between the two count for nothing.
  const std::string pluginPath = std::string(":").append(install.file("first")) + "::" + install.file("second") + ":";
  const ProgramResult r = install.run({"--version"}, "", pluginPath);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "xrreport " XR_VERSION " (plug-in ABI " + std::to_string(XR_PLUGIN_ABI_VERSION) + ")\n" +
                       "  Alpha" + at("bin/Alpha") + "  Beta" + at("first/Beta") + "  Delta" + at(installed + "/Delta") +
                       "  Gamma" + at("second/Gamma"));
}

// Broken machine profiles and plug-in bundles: exit status 1, nothing on stdout, one line on
// stderr naming the file, then the fault.
TEST(Xrreport, FaultsAreNamedAndFail) {
  const auto alpha = [](const TempDirectory& i) { addBundle(i, "Alpha"); };
  struct Case {
    const char* name;
    void (*make)(const TempDirectory&);  // fills the installation, which holds the profile "m"
    std::string file;                    // named first in the message; "": none
    std::string fault;
    std::string mode = "";  // HOSTTEST_MODE
    const char* profile = "m";
    std::string pluginPath = "";  // XRREPORT_PLUGIN_PATH, inside the installation
  } cases[] = {
      {"profile missing", [](auto&) {}, "absent", "does not exist", "", "absent"},
      // Shown, not obeyed: a name cannot start a line of its own or a terminal escape.
      {"profile named with control characters", [](auto&) {}, "a\\x0ab\\x1b[2J", "does not exist", "", "a\nb\x1b[2J"},
      {"root is a file", [](auto& i) { i.write("m/root", ""); }, "m/root", "not a directory"},
      // Not an empty machine: what it holds cannot be seen.
      {"profile cannot be searched", [](auto& i) { fs::permissions(i.file("m"), fs::perms::owner_read); }, "m/root",
       "Permission denied"},
      {"profile cannot be reached",
       [](auto& i) {
         i.makeDirectory("m/p");
         fs::permissions(i.file("m"), fs::perms::owner_read);
       },
       "m/p", "Permission denied", "", "m/p"},
      {"registry cannot be read",
       [](auto& i) { fs::permissions(i.write("m/registry.json", "{}"), fs::perms::none); }, "m/registry.json",
       "Permission denied"},
      {"registry malformed", [](auto& i) { i.write("m/registry.json", "{\"HwService\": "); }, "m/registry.json",
       "parse error"},
      {"modem script too large", [](auto& i) { i.write("m/modem.json", std::string(4 << 20, ' ') + "{}"); },
       "m/modem.json", "larger than 4194304 bytes"},
      {"no bundle at all", [](auto&) {}, "", "no plug-in bundle"},
      {"empty bundle", [](auto& i) { i.makeDirectory("Empty.xrplugin"); }, "Empty.xrplugin", "no shared object"},
      {"two shared objects",
       [](auto& i) {
         addBundle(i, "Alpha");
         fs::copy_file(kTestPlugin, i.file("Alpha.xrplugin/Other.so"));
       },
       "Alpha.xrplugin", "more than one shared object"},
      {"not a shared object", [](auto& i) { i.write("Junk.xrplugin/Junk.so", "not ELF\n"); }, "Junk.xrplugin/Junk.so",
       "cannot be loaded"},
      {"no factory", [](auto& i) { addBundle(i, "Bare", XR_TEST_PLUGIN_DIR "/NoFactory.so"); },
       "Bare.xrplugin/Bare.so", "does not export XRPluginCreatePrincipalReporter"},
      {"no ABI version", [](auto& i) { addBundle(i, "Old", XR_TEST_PLUGIN_DIR "/NoAbi.so"); }, "Old.xrplugin/Old.so",
       "does not export XRPluginABIVersion"},
      {"another ABI", [](auto& i) { addBundle(i, "Next", XR_TEST_PLUGIN_DIR "/OtherAbi.so"); },
       "Next.xrplugin/Next.so", "built for plug-in ABI " + std::to_string(XR_PLUGIN_ABI_VERSION + 1)},
      {"plug-in path missing", alpha, "extra", "plug-in directory in XRREPORT_PLUGIN_PATH cannot be read", "", "m",
       "extra"},
      {"factory refuses", alpha, "Alpha.xrplugin/Alpha.so", "no principal reporter", "refuse"},
      {"reporter throws", alpha, "Alpha.xrplugin", "test plug-in gave up", "throw"},
      {"no report", alpha, "Alpha.xrplugin", "plug-in returned no report dictionary", "no-report"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Installation install;
    install.makeDirectory("m");
    c.make(install);
    const ProgramResult r = install.run({"--machine", install.file(c.profile), "--format", "json"}, c.mode,
                                        c.pluginPath.empty() ? "" : install.file(c.pluginPath), true);
    fs::permissions(install.file("m"), fs::perms::owner_all);  // so that it can be removed
    const std::string named = c.file.empty() ? "" : install.file(c.file) + ": ";
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(r.err.starts_with("xrreport: " + named) && r.err.find(c.fault) != std::string::npos &&
                r.err.find('\n') == r.err.size() - 1)
        << r.err;
  }
}

}  // namespace
}  // namespace xr

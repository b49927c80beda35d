// xrreport, run as a real process: formats, exit statuses and the messages of broken machine
// profiles and plug-in bundles. Each test installs a copy of xrreport in a directory of its own,
// with the plug-in bundles it needs beside it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "platform/Json.h"
#include "support/RunProgram.h"
#include "support/TempDirectory.h"

namespace xr {
namespace {
namespace fs = std::filesystem;
using test::ProgramResult;
using test::runProgram;
using test::TempDirectory;

const std::string kBuiltXrreport = XR_BINARY_DIR "/bin/xrreport";
const std::string kTestPlugin = XR_TEST_PLUGIN_DIR "/HostTest.so";
const std::string kNoFactoryPlugin = XR_TEST_PLUGIN_DIR "/NoFactory.so";
const std::string kTestStrings = XR_SOURCE_DIR "/tests/host/plugin/Localizable.json";

// xrreport copied into a directory of its own, so the bundles beside it are the test's.
class Installation {
 public:
  Installation() { fs::copy_file(kBuiltXrreport, dir_.file("xrreport")); }

  // NAME.xrplugin holding the given shared object (as NAME.so) and the test string table.
  std::string addBundle(const std::string& name, const std::string& object = kTestPlugin) {
    std::string bundle = dir_.makeDirectory(name + ".xrplugin");
    fs::copy_file(object, bundle + "/" + name + ".so");
    fs::copy_file(kTestStrings, bundle + "/Localizable.json");
    return bundle;
  }
  const TempDirectory& dir() const { return dir_; }

  ProgramResult run(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {}) const {
    return runProgram(dir_.file("xrreport"), args, env);
  }

 private:
  TempDirectory dir_;
};

bool isOneLine(const std::string& text) {
  return !text.empty() && text.back() == '\n' && std::count(text.begin(), text.end(), '\n') == 1;
}

DictionaryRef expectedItem(const std::string& bundle, const std::string& root) {
  return makeDictionary({
      {"_name", "hosttest_item"},
      {"hosttest_bundle", bundle},
      {"hosttest_root", root},
      {"hosttest_count", 3},
      {"hosttest_ratio", 0.5},
      {"hosttest_flag", true},
      {"hosttest_bytes", dataWithString("AT\r\nOK")},
      {"hosttest_list", makeArray({"one", "two"})},
      {"hosttest_nested", makeDictionary({{"hosttest_inner", "deep"}})},
      {"hosttest_untranslated", "shown by its key"},
  });
}

TEST(XrreportFormats, JsonIsAnArrayOfOneReportPerPluginInBundleOrder) {
  Installation install;
  install.addBundle("Beta");
  install.addBundle("Alpha");
  TempDirectory machine;
  machine.makeDirectory("root");

  ProgramResult r = install.run({"--machine", machine.path(), "--format", "json"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("\"hosttest_bytes\": {\n          \"$data\": \"41540d0a4f4b\""), std::string::npos) << r.out;

  JsonResult parsed = parseJson(r.out);
  ASSERT_TRUE(parsed.ok()) << parsed.error;
  std::string root = machine.path() + "/root";
  Value expected(makeArray({
      Value(makeDictionary({{"_items", makeArray({Value(expectedItem("Alpha.xrplugin", root))})}})),
      Value(makeDictionary({{"_items", makeArray({Value(expectedItem("Beta.xrplugin", root))})}})),
  }));
  EXPECT_EQ(parsed.value, expected) << r.out;
}

TEST(XrreportFormats, TextShowsKeysThroughThePluginsStringTable) {
  Installation install;
  install.addBundle("Alpha");
  const std::string expected =
      "Alpha:\n"
      "\n"
      "    Test Item:\n"
      "\n"
      "      Bundle: Alpha.xrplugin\n"
      "      Platform Root: /\n"
      "      Count: 3\n"
      "      Ratio: 0.5\n"
      "      Flag: Yes\n"
      "      Bytes: <41540d0a 4f4b>\n"
      "      List:\n"
      "        one\n"
      "        two\n"
      "      Nested:\n"
      "        Inner: deep\n"
      "      hosttest_untranslated: shown by its key\n"
      "\n";
  for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"--format", "text"}}) {
    ProgramResult r = install.run(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, expected);
  }
}

TEST(XrreportFormats, TextOfAReportWithoutItemsSaysSo) {
  Installation install;
  install.addBundle("Alpha");
  ProgramResult r = install.run({}, {{"HOSTTEST_MODE", "no-items"}});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Alpha:\n\n    No information found.\n\n");
}

// --- command lines -------------------------------------------------------------------------

struct CommandLineCase {
  std::string name;
  std::vector<std::string> args;
  int status;
  std::string inOut;  // expected in stdout
  std::string inErr;  // expected in stderr
};

void PrintTo(const CommandLineCase& c, std::ostream* os) { *os << c.name; }

class XrreportCommandLine : public testing::TestWithParam<CommandLineCase> {};

TEST_P(XrreportCommandLine, ExitStatusAndMessage) {
  const CommandLineCase& c = GetParam();
  Installation install;
  install.addBundle("Alpha");
  ProgramResult r = install.run(c.args);
  EXPECT_TRUE(r.exited);
  EXPECT_EQ(r.status, c.status) << r.err;
  EXPECT_NE(r.out.find(c.inOut), std::string::npos) << r.out;
  EXPECT_NE(r.err.find(c.inErr), std::string::npos) << r.err;
  if (c.status == 2) {
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("Usage: xrreport"), std::string::npos) << r.err;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, XrreportCommandLine,
    testing::Values(CommandLineCase{"Help", {"--help"}, 0, "Usage: xrreport", ""},
                    CommandLineCase{"Version", {"--version"}, 0, "xrreport " XR_VERSION "\n", ""},
                    CommandLineCase{"TraceIsAccepted", {"--trace", "--format", "json"}, 0, "\"_items\"", ""},
                    CommandLineCase{"UnknownFormat", {"--format", "xml"}, 2, "", "xml"},
                    CommandLineCase{"FormatWithoutValue", {"--format"}, 2, "", "--format"},
                    CommandLineCase{"MachineWithoutValue", {"--machine"}, 2, "", "--machine"},
                    CommandLineCase{"UnknownOption", {"--colour"}, 2, "", "--colour"},
                    CommandLineCase{"StrayArgument", {"report"}, 2, "", "report"}),
    [](const auto& info) { return info.param.name; });

// --- machine profiles ----------------------------------------------------------------------

struct ProfileCase {
  std::string name;
  std::function<void(const TempDirectory&)> make;  // fills the profile directory
  std::string profile;                              // relative to the temporary directory
  std::string faultyFile;                           // named in the message; empty: the report is made
};

std::string nested(int depth) { return std::string(depth, '[') + std::string(depth, ']'); }

void PrintTo(const ProfileCase& c, std::ostream* os) { *os << c.name; }

class XrreportMachineProfile : public testing::TestWithParam<ProfileCase> {};

TEST_P(XrreportMachineProfile, UnusableProfileIsNamedAndFails) {
  const ProfileCase& c = GetParam();
  Installation install;
  install.addBundle("Alpha");
  TempDirectory machine;
  c.make(machine);
  std::string profile = machine.file(c.profile);
  ProgramResult r = install.run({"--machine", profile, "--format", "json"});
  if (c.faultyFile.empty()) {
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    return;
  }
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(isOneLine(r.err)) << r.err;
  EXPECT_NE(r.err.find(machine.file(c.faultyFile)), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, XrreportMachineProfile,
    testing::Values(
        ProfileCase{"WithoutAnyFile", [](auto&) {}, "", ""},
        ProfileCase{"WithRootOnly", [](auto& m) { m.makeDirectory("root/var/db"); }, "", ""},
        ProfileCase{"Missing", [](auto&) {}, "absent", "absent"},
        ProfileCase{"NotADirectory", [](auto& m) { m.write("plain", "x"); }, "plain", "plain"},
        ProfileCase{"RootIsAFile", [](auto& m) { m.write("root", ""); }, "", "root"},
        ProfileCase{"RegistryMalformed", [](auto& m) { m.write("registry.json", "{\"HwService\": "); }, "",
                    "registry.json"},
        ProfileCase{"RegistryEmptyFile", [](auto& m) { m.write("registry.json", ""); }, "", "registry.json"},
        ProfileCase{"RegistryNotAnObject", [](auto& m) { m.write("registry.json", "[]"); }, "", "registry.json"},
        ProfileCase{"RegistryTooDeep", [](auto& m) { m.write("registry.json", nested(200)); }, "",
                    "registry.json"},
        ProfileCase{"RegistryUnreadable", [](auto& m) { m.makeDirectory("registry.json"); }, "",
                    "registry.json"},
        ProfileCase{"ModemMalformed", [](auto& m) { m.write("modem.json", "{\"Echo\": tru}"); }, "",
                    "modem.json"},
        ProfileCase{"ModemNotAnObject", [](auto& m) { m.write("modem.json", "\"ATI4\""); }, "", "modem.json"},
        ProfileCase{"ModemUnreadable", [](auto& m) { m.makeDirectory("modem.json"); }, "", "modem.json"}),
    [](const auto& info) { return info.param.name; });

// A snapshot fault names the file and the entry, on one line.
TEST(XrreportMachineProfile, RegistryFaultNamesTheEntry) {
  Installation install;
  install.addBundle("Alpha");
  TempDirectory machine;
  machine.write("registry.json", R"({"HwDeviceTree": {"name": "dt", "class": "Root"},
    "HwService": {"name": "Root", "class": "R", "children": [{"name": "zel-io", "class": "Z", "children": [
      {"name": "a", "class": "A"}, {"name": "b", "clas": "B"}]}]}})");
  ProgramResult r = install.run({"--machine", machine.path()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "xrreport: " + machine.file("registry.json") + ": HwService/zel-io/children[1]: unknown key \"clas\"\n");
}

// --- plug-in bundles -----------------------------------------------------------------------

struct PluginCase {
  std::string name;
  std::function<void(Installation&)> install;
  std::string mode;     // HOSTTEST_MODE
  std::string inError;  // the fault, after the file's name
  std::string file;     // the file named, relative to the installation
};

void PrintTo(const PluginCase& c, std::ostream* os) { *os << c.name; }

class XrreportBrokenPlugin : public testing::TestWithParam<PluginCase> {};

TEST_P(XrreportBrokenPlugin, IsNamedAndFails) {
  const PluginCase& c = GetParam();
  Installation install;
  c.install(install);
  ProgramResult r = install.run({"--format", "json"}, {{"HOSTTEST_MODE", c.mode}});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(isOneLine(r.err)) << r.err;
  std::string named = c.file.empty() ? install.dir().path() : install.dir().file(c.file);
  EXPECT_NE(r.err.find(named), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(c.inError), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, XrreportBrokenPlugin,
    testing::Values(
        PluginCase{"NoBundleAtAll", [](auto&) {}, "", "no plug-in bundle", ""},
        PluginCase{"EmptyBundle", [](auto& i) { i.dir().makeDirectory("Empty.xrplugin"); }, "", "no shared object",
                   "Empty.xrplugin"},
        PluginCase{"BundleIsAFile", [](auto& i) { i.dir().write("Flat.xrplugin", "x"); }, "", "not a directory",
                   "Flat.xrplugin"},
        PluginCase{"TwoSharedObjects",
                   [](auto& i) {
                     i.addBundle("Twin");
                     fs::copy_file(kTestPlugin, i.dir().file("Twin.xrplugin/Other.so"));
                   },
                   "", "more than one shared object", "Twin.xrplugin"},
        PluginCase{"NotASharedObject", [](auto& i) { i.dir().write("Junk.xrplugin/Junk.so", "not ELF\n"); }, "",
                   "cannot be loaded", "Junk.xrplugin/Junk.so"},
        PluginCase{"NoFactory", [](auto& i) { i.addBundle("Bare", kNoFactoryPlugin); }, "",
                   "does not export XRPluginCreatePrincipalReporter", "Bare.xrplugin/Bare.so"},
        PluginCase{"FactoryRefuses", [](auto& i) { i.addBundle("Alpha"); }, "refuse", "no principal reporter",
                   "Alpha.xrplugin/Alpha.so"},
        PluginCase{"NoReportDictionary", [](auto& i) { i.addBundle("Alpha"); }, "no-report", "no report dictionary",
                   "Alpha.xrplugin"},
        PluginCase{"ReporterThrows", [](auto& i) { i.addBundle("Alpha"); }, "throw", "test plug-in gave up", "Alpha.xrplugin"},
        PluginCase{"OneBrokenAmongGood",
                   [](auto& i) {
                     i.addBundle("Alpha");
                     i.dir().makeDirectory("Zulu.xrplugin");
                   },
                   "", "no shared object", "Zulu.xrplugin"}),
    [](const auto& info) { return info.param.name; });

// --- the modem plug-in as built --------------------------------------------------------------

TEST(XrreportModemPlugin, EmptyMachineGivesAReportWithoutItems) {
  std::string empty = XR_SOURCE_DIR "/examples/empty";
  ProgramResult json = runProgram(kBuiltXrreport, {"--machine", empty, "--format", "json"});
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(json.err, "");
  JsonResult parsed = parseJson(json.out);
  ASSERT_TRUE(parsed.ok()) << parsed.error;
  EXPECT_EQ(parsed.value, Value(makeArray({Value(makeDictionary({{"_items", makeArray()}}))}))) << json.out;

  ProgramResult text = runProgram(kBuiltXrreport, {"--machine", empty});
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_EQ(text.out, "XRModem:\n\n    No information found.\n\n");
}

// The modem plug-in probes the registry of the machine profile.
TEST(XrreportModemPlugin, ReportsTheUSBModemsOfTheProfilesRegistry) {
  TempDirectory machine;
  machine.makeDirectory("root");
  machine.write("registry.json", R"({"HwDeviceTree": {"name": "dt", "class": "Root"},
    "HwService": {"name": "Root", "class": "R", "children": [{"name": "modem", "class": "TarvoSM56KUSBModemFamily",
      "properties": {"locationID": 440401920, "SM56KUSBFirmwareVersion": "1.04"}}]}})");
  ProgramResult r = runProgram(kBuiltXrreport, {"--machine", machine.path(), "--format", "json"});
  ASSERT_EQ(r.status, 0) << r.err;
  JsonResult parsed = parseJson(r.out);
  ASSERT_TRUE(parsed.ok()) << parsed.error;
  auto items = parsed.value.array()->at(0).dictionary()->get("_items").array();
  ASSERT_TRUE(items && items->size() == 1) << r.out;
  auto modems = items->at(0).dictionary()->get("xrmodem_emModems").dictionary();
  ASSERT_TRUE(modems) << r.out;
  EXPECT_EQ(modems->get("xrmodem_usblocation"), Value(makeArray({440401920})));
  EXPECT_EQ(modems->get("xrmodem_fwvers"), Value("1.04"));
}

}  // namespace
}  // namespace xr

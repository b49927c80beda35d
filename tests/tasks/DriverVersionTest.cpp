#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/PlatformRoot.h"
#include "reporter/XRModemPlugin.h"
#include "tasks/TaskTesting.h"

namespace xr {
namespace {

const char kListing[] =
    "Index Refs Address            Size       Wired      Name (Version) <Linked Against>\n"
    "  121    0 0xffffff7f80e7a000 0x5000     0x5000     com.tarvo.driver.MotorolaSM56KUSB (1.0.3b4) "
    "<32 12 7 5 4 (3) 1>\n";

struct ParseCase {
  const char* label;
  std::optional<std::string> output;
  std::optional<std::string> stored;   // variant 1: "Driver Version" afterwards
  std::optional<std::string> result;   // variant 2
  friend void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.label; }
};

class DrvxStatParseTest : public testing::TestWithParam<ParseCase> {};
TEST_P(DrvxStatParseTest, TakesTheTextInTheFirstParentheses) {
  const auto& c = GetParam();
  XRModemPlugin plugin(nullptr);
  plugin.retrieveLoadedDriverVersionFromDrvxStatOutput(c.output);
  EXPECT_EQ(plugin.modemInfoDictionary()->get("Driver Version").stringValue(), c.stored);
  EXPECT_EQ(XRModemPlugin::retrieveLoadedDriverVersionFromDrvxStatOutput2(c.output), c.result);
}
INSTANTIATE_TEST_SUITE_P(
    Outputs, DrvxStatParseTest,
    testing::Values(ParseCase{"ListingLine", kListing, "Version", "Version"},
                    ParseCase{"DriverLineOnly",
                              "  121    0 0xffffff7f80e7a000 0x5000 0x5000 com.x (1.0.3b4) <32 (12) 7>\n", "1.0.3b4",
                              "1.0.3b4"},
                    ParseCase{"EmptyParentheses", "com.x () <1>", std::nullopt, ""},
                    ParseCase{"BlanksKept", "com.x ( 2.1 )", " 2.1 ", " 2.1 "},
                    ParseCase{"FirstOpenFirstClose", "a (x (y) z)", "x (y", "x (y"},
                    ParseCase{"OpenOnly", "com.x (1.0", std::nullopt, std::nullopt},
                    ParseCase{"CloseOnly", "com.x 1.0)", std::nullopt, std::nullopt},
                    ParseCase{"CloseBeforeOpen", "a ) b (c", std::nullopt, std::nullopt},
                    ParseCase{"CloseBeforeOpenThenPair", "a) (b)", std::nullopt, std::nullopt},
                    ParseCase{"NoParentheses", "com.x 1.0", std::nullopt, std::nullopt},
                    ParseCase{"Empty", "", std::nullopt, std::nullopt},
                    ParseCase{"Nil", std::nullopt, std::nullopt, std::nullopt}),
    [](const auto& info) { return info.param.label; });

TEST(DrvxStatParseTest, NothingFoundKeepsTheVersionAlreadyRecorded) {
  XRModemPlugin plugin(nullptr);
  plugin.setObject("4.0", "Driver Version");
  for (const char* output : {"", "x () y", "no version"}) plugin.retrieveLoadedDriverVersionFromDrvxStatOutput(output);
  EXPECT_EQ(plugin.modemInfoDictionary()->get("Driver Version"), Value("4.0"));
}

// The tool under a test platform root: it records its arguments and prints what it is told.
class DrvxStatToolTest : public ToolTest {
 protected:
  void installTool(const std::string& body, bool executable = true) {
    script("root/usr/sbin/drvxstat", "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"" +
                                         dir_.file("arguments") + "\"\n" + body,
           executable);
  }
  std::vector<std::string> argumentsSeen() const {
    std::ifstream in(dir_.file("arguments"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  ScopedPlatformRoot root_{dir_.makeDirectory("root")};
  XRModemPlugin plugin_{nullptr};
};

TEST_F(DrvxStatToolTest, AsksForTheBundleIdentifierAndStoresItsVersion) {
  installTool("printf '%s' '" + std::string(kListing) + "'");
  plugin_.getLoadedDrvxVersionForDrvxWithBundleID("com.tarvo.driver.MotorolaSM56KUSB");
  EXPECT_EQ(argumentsSeen(), (std::vector<std::string>{"-l", "-bcom.tarvo.driver.MotorolaSM56KUSB"}));
  EXPECT_EQ(plugin_.modemInfoDictionary()->get("Driver Version"), Value("Version"));
  EXPECT_EQ(plugin_.getLoadedDrvxVersionForDrvxWithBundleID2(" com.x"), "Version");
  EXPECT_EQ(argumentsSeen(), (std::vector<std::string>{"-l", "-b com.x"}));
}

struct ToolCase {
  const char* label;
  std::string body;  // empty: no tool installed
  bool executable;
  std::optional<std::string> version;  // both variants; variant 1 stores only a non-empty one
  friend void PrintTo(const ToolCase& c, std::ostream* os) { *os << c.label; }
};

class DrvxStatFaultTest : public DrvxStatToolTest, public testing::WithParamInterface<ToolCase> {};
TEST_P(DrvxStatFaultTest, GivesTheVersionOrNothing) {
  const auto& c = GetParam();
  if (!c.body.empty()) installTool(c.body, c.executable);
  plugin_.getLoadedDrvxVersionForDrvxWithBundleID("com.x");
  auto stored = plugin_.modemInfoDictionary()->get("Driver Version").stringValue();
  EXPECT_EQ(stored, c.version && !c.version->empty() ? c.version : std::nullopt);
  EXPECT_EQ(plugin_.getLoadedDrvxVersionForDrvxWithBundleID2("com.x"), c.version);
}
INSTANTIATE_TEST_SUITE_P(
    Tools, DrvxStatFaultTest,
    testing::Values(ToolCase{"Missing", "", true, std::nullopt},
                    ToolCase{"NotExecutable", "echo 'com.x (1.0)'", false, std::nullopt},
                    ToolCase{"StderrOnly", "echo 'com.x (2.0)' >&2", true, "2.0"},
                    ToolCase{"NonZeroExit", "echo 'com.x (2.0)'; exit 1", true, std::nullopt},
                    ToolCase{"NotLoaded", "true", true, std::nullopt},
                    ToolCase{"EmptyVersion", "echo 'com.x ()'", true, ""},
                    ToolCase{"InvalidUtf8", "printf 'com.x (1.\\377)'", true, std::nullopt},
                    ToolCase{"Reversed", "echo 'com.x )1.0('", true, std::nullopt},
                    ToolCase{"TenMegabytesBeforeTheVersion",
                             "head -c 10485760 /dev/zero | tr '\\000' x; echo ' com.x (3.0)'", true, "3.0"}),
    [](const auto& info) { return info.param.label; });

}  // namespace
}  // namespace xr

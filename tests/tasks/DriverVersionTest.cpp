#include <gtest/gtest.h>

#include "platform/PlatformRoot.h"
#include "reporter/XRModemPlugin.h"
#include "tasks/TaskTesting.h"

namespace xr {
namespace {

// The first variant stores what it finds, unless that is empty, over the version already there.
// (The tool-output fuzz target's corpus holds the listing's header and a line, empty
// parentheses and a ")" before the first "(", each checked against that rule.)
TEST(DrvxStatParseTest, TakesTheTextInTheFirstParentheses) {
  struct Case {
    std::optional<std::string> output;
    std::optional<std::string> found;  // second variant
    const char* stored;                // first variant
  } cases[] = {
      {"com.x (1.0", std::nullopt, "old"},
      {"com.x 1.0", std::nullopt, "old"},
      {std::nullopt, std::nullopt, "old"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output.value_or("(nil)"));
    XRModemPlugin plugin(nullptr);
    plugin.setObject("old", "Driver Version");
    plugin.retrieveLoadedDriverVersionFromDrvxStatOutput(c.output);
    EXPECT_EQ(plugin.modemInfoDictionary()->get("Driver Version"), Value(c.stored));
    EXPECT_EQ(XRModemPlugin::retrieveLoadedDriverVersionFromDrvxStatOutput2(c.output), c.found);
  }
}

// The tool under a test platform root, printing what it is told.
class DrvxStatToolTest : public ToolTest {
 protected:
  void installTool(const std::string& body) { script("root/usr/sbin/drvxstat", body); }

  ScopedPlatformRoot root_{dir_.makeDirectory("root")};
  XRModemPlugin plugin_{nullptr};
};

// How the runner treats failing tools is its own test's; here the tool's absence (for the first
// variant, the torvin-noprefs example's), and a version
// behind nearly 1 MiB of output, then behind more: a listing past 1 MiB is a failed run.
TEST_F(DrvxStatToolTest, MissingToolOrLongListing) {
  EXPECT_EQ(plugin_.getLoadedDrvxVersionForDrvxWithBundleID2("com.x"), std::nullopt);
  installTool("head -c 1048000 /dev/zero | tr '\\000' x; echo ' com.x (3.0)'");
  EXPECT_EQ(plugin_.getLoadedDrvxVersionForDrvxWithBundleID2("com.x"), "3.0");
  installTool("head -c 1048576 /dev/zero | tr '\\000' x; echo ' com.x (3.0)'");
  EXPECT_EQ(plugin_.getLoadedDrvxVersionForDrvxWithBundleID2("com.x"), std::nullopt);
}

}  // namespace
}  // namespace xr

// xrdrvxstat on a fake system tree: a line per driver or module, the version in parentheses
// only when the module declares one. The live machine, and a Linux machine's profile, get the
// same listing in process, and an installed xrreport finds the tool and the USB modem family
// table in its installed layout.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "live/KernelDriverListing.h"
#include "live/LiveMachine.h"
#include "platform/Process.h"
#include "support/FakeSystem.h"
#include "support/RunProgram.h"
#include "support/TempDirectory.h"

namespace xr {
namespace {

TEST(DriverListing, ListsModulesBuiltInsAndDrivers) {
  test::FakeSystem sys;
  sys.write("/proc/modules",
            "cdc_acm 45056 1 - Live 0xffffffffc0a2c000\n"
            "option 57344 0 usb_wwan,usbserial, Live 0xffffffffc0b00000\n");
  sys.attribute("/sys/module/cdc_acm/version", "0.26");
  sys.attribute("/sys/module/cdc_acm/initstate", "live");
  sys.attribute("/sys/module/option/initstate", "live");
  sys.attribute("/sys/module/8250/parameters/nr_uarts", "4");
  sys.attribute("/sys/module/evil/version", "1.0 (beta)");
  sys.directory("/sys/bus/platform/drivers/serial8250");
  std::string error;
  auto live = LiveMachine::open({sys.root(), XR_BINARY_DIR "/bin", ""}, &error);
  ASSERT_TRUE(live) << error;
  // The program, and the same listing through the live machine's tool path (a launched tool
  // would get no XRREPORT_SYSTEM_ROOT and list this machine).
  auto listing = [&](const std::vector<std::string>& args) {
    test::ProgramResult r =
        test::runProgram(XR_BINARY_DIR "/bin/xrdrvxstat", args, {{"XRREPORT_SYSTEM_ROOT", sys.root()}});
    std::optional<Process::Result> served = Process::run(resolvePath("/usr/sbin/drvxstat"), args);
    EXPECT_TRUE(served && served->success() && served->output == r.out) << (served ? served->output : "not run");
    return r;
  };

  // A line for each name that is there, in the listing's order and columns; the version in
  // parentheses only where the module declares a plain one.
  test::ProgramResult some = listing({"-l", "-bevil", "-bmissing", "-b../bus", "-boption", "-bserial8250", "-bcdc_acm"});
  ASSERT_EQ(some.status, 0) << some.err;
  EXPECT_EQ(some.out,
            "    1    1 0xffffffffc0a2c000 0xb000     0xb000     cdc_acm (0.26) <>\n"
            "    2    0 0x0000000000000000 0x0        0x0        evil <>\n"
            "    3    0 0xffffffffc0b00000 0xe000     0xe000     option <usb_wwan usbserial>\n"
            "    4    0 0x0000000000000000 0x0        0x0        serial8250 <>\n");
  // Everything, the built-in module known only by its parameters among it.
  test::ProgramResult all = listing({"-l", "--root", sys.root()});
  EXPECT_EQ(std::count(all.out.begin(), all.out.end(), '\n'), 5) << all.out;
  EXPECT_NE(all.out.find(" 8250 <>\n"), std::string::npos) << all.out;
}

// A Linux machine's profile lists its drivers from its kernel's files, unless it brings a
// listing tool of its own: that one speaks for the machine (a captured one, or another system).
TEST(DriverListing, ALinuxProfileIsListedFromItsKernelFilesUnlessItHasATool) {
  test::TempDirectory dir;
  dir.write("modules/proc/modules", "cdc_acm 45056 1 - Live 0xffffffffc0a2c000\n");
  dir.write("sysfs/sys/module/cdc_acm/version", "0.26\n");
  dir.write("tool/proc/modules", "cdc_acm 45056 1 - Live 0xffffffffc0a2c000\n");
  dir.write("tool/usr/sbin/drvxstat", "#!/bin/sh\n");
  dir.write("other/var/db/modem.prefs", "");
  for (auto [root, described] : {std::pair{"modules", true}, {"sysfs", true}, {"tool", false}, {"other", false}})
    EXPECT_EQ(KernelDriverListing::describedBy(dir.file(root)), described) << root;
}

// The directories are the ones the build is configured with (cmake/XrInstall.cmake), whatever
// they are: a packager's -DCMAKE_INSTALL_LIBEXECDIR=lib puts the tool beside the private
// libraries. The build tree keeps both beside xrreport, and that copy comes first.
TEST(DriverListing, TheToolAndTheFamilyTableAreFoundInTheInstalledLayout) {
  namespace fs = std::filesystem;
  test::TempDirectory tree;
  const std::string bin = tree.makeDirectory("bin");
  // Where each goes in the tree, by its path from bin/.
  const auto installed = [](const char* fromBin, const char* name) {
    return (fs::path("bin") / fromBin / name).lexically_normal().string();
  };
  const std::string tool = tree.write(installed(XR_LIBEXECDIR_FROM_BINDIR, "xrdrvxstat"), "");
  ASSERT_EQ(::chmod(tool.c_str(), 0755), 0);
  const std::string table = tree.write(installed(XR_DATADIR_FROM_BINDIR, "usb-modem-family.json"), "{}");
  LiveMachine::Options options = LiveMachine::defaults(bin);
  EXPECT_EQ(options.toolDirectory, fs::path(tool).parent_path().string());
  EXPECT_EQ(options.familyTablePath, table);

  ASSERT_EQ(::chmod(tree.write("bin/xrdrvxstat", "").c_str(), 0755), 0);
  const std::string besideTable = tree.write("bin/usb-modem-family.json", "{}");
  options = LiveMachine::defaults(bin);
  EXPECT_EQ(options.toolDirectory, bin);
  EXPECT_EQ(options.familyTablePath, besideTable);
}

}  // namespace
}  // namespace xr

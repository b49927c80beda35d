// xrreport --watch: the report made again on registry arrivals, printed only when it changed,
// and ended by SIGINT or SIGTERM with exit status 0.
#include <gtest/gtest.h>
#include <signal.h>

#include <thread>

#include "host/ReportWatch.h"
#include "platform/Json.h"
#include "platform/Process.h"
#include "support/Descriptors.h"
#include "support/RunProgram.h"
#include "support/TempDirectory.h"

namespace xr {
namespace {

// Arrivals and removals from another thread make the report again on the loop's thread; only
// a changed one is printed. (What the modem report says of a second modem is the usb-two example's.)
TEST(ReportWatch, ReportsAgainOnArrivalsAndPrintsOnlyWhatChanged) {
  auto store = RegistryStore::create();
  RegistryEntry* usb = store->addEntry(store->root("HwService"), "usb", "HwUSBHub");
  RunLoop& loop = RunLoop::current();
  const auto loopThread = std::this_thread::get_id();
  int made = 0;
  std::optional<std::string> next = "one modem";  // what the next report says; nullopt: it fails
  std::vector<std::string> printed;
  ReportWatch watch(
      store,
      [&](std::string* failure) -> std::optional<std::string> {
        EXPECT_EQ(std::this_thread::get_id(), loopThread);
        ++made;
        loop.stop();  // one report per run of the watch
        if (!next) *failure = "plug-in failed";
        return next;
      },
      [&](const std::string& report) {
        printed.push_back(report);
        return true;
      });

  // Two arrivals that change nothing: one report, the same, not printed.
  std::thread([&] {
    store->addEntry(usb, "Printer", "HwUSBDevice");
    store->addEntry(usb, "Keyboard", "HwUSBDevice");
  }).join();
  EXPECT_EQ(watch.run(loop, "one modem"), "");
  EXPECT_EQ(made, 1);
  EXPECT_TRUE(printed.empty());

  next = "two modems";
  DictionaryRef modemProperties = makeDictionary();
  const std::weak_ptr<Dictionary> modemHeld = modemProperties;
  std::thread([&] { store->addEntry(usb, "USB Modem", "HwUSBDevice", std::move(modemProperties)); }).join();
  EXPECT_EQ(watch.run(loop, "one modem"), "");
  EXPECT_EQ(made, 2);
  EXPECT_EQ(printed, std::vector<std::string>{"two modems"});

  // A device pulled out makes the report again too.
  next = "one modem";
  std::thread([&] { store->removeEntry(store->entryAtPath("HwService:usb/USB Modem")); }).join();
  EXPECT_EQ(watch.run(loop, "two modems"), "");
  EXPECT_EQ(made, 3);
  EXPECT_EQ(printed, (std::vector<std::string>{"two modems", "one modem"}));
  EXPECT_TRUE(modemHeld.expired()) << "an unplugged device is kept after the report";

  next = std::nullopt;
  store->addEntry(usb, "Mouse", "HwUSBDevice");
  EXPECT_EQ(watch.run(loop, "two modems"), "plug-in failed");
  EXPECT_EQ(loop.sourceCount(), 0u);
}

// The real xrreport, watching an empty machine: one JSON line, then a signal ends it cleanly.
TEST(XrreportWatch, SigintAndSigtermEndTheWatchWithStatusZero) {
  for (int sig : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(sig);
    std::string error;
    auto process = Process::launch(XR_BINARY_DIR "/bin/xrreport",
                                   {"--watch", "--format", "json", "--machine", XR_SOURCE_DIR "/examples/empty"}, &error);
    ASSERT_TRUE(process) << error;
    const std::string line = test::readUntil(process->outputDescriptor(), [](const std::string& got) { return got.find('\n') != std::string::npos; });
    ASSERT_EQ(line.find('\n'), line.size() - 1) << line;
    EXPECT_TRUE(parseJson(line).ok()) << line;
    EXPECT_TRUE(line.starts_with("[{")) << line;
    ::kill(process->pid(), sig);
    Process::Result rest = process->collect();
    EXPECT_TRUE(rest.termination.success()) << rest.termination.status;
    EXPECT_EQ(rest.output, "");
  }
}

// Watching this machine with no device events to be had (here libudev will not load): the
// report is still made and the watch still ends cleanly, but the user is told that what is
// plugged in or out will not be seen.
TEST(XrreportWatch, SaysWhenPluggedDevicesCannotBeSeen) {
  test::TempDirectory libraries;
  libraries.write("libudev.so.1", "");
  std::string error;
  auto process = test::startProgram(XR_BINARY_DIR "/bin/xrreport", {"--watch", "--format", "json"},
                                    {{"LD_LIBRARY_PATH", libraries.path()}}, &error);
  ASSERT_TRUE(process) << error;
  const std::string line = test::readUntil(process->outputDescriptor(), [](const std::string& got) { return got.find('\n') != std::string::npos; });
  EXPECT_TRUE(line.starts_with("[{")) << line;
  ::kill(process->pid(), SIGTERM);
  const test::ProgramResult rest = test::finishProgram(*process);
  EXPECT_TRUE(rest.exited && rest.status == 0) << rest.status;
  EXPECT_NE(rest.err.find("warning: devices plugged in or out will not be seen: "), std::string::npos) << rest.err;
  EXPECT_NE(rest.err.find("libudev.so.1"), std::string::npos) << rest.err;
}

}  // namespace
}  // namespace xr

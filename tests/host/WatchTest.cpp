// xrreport --watch: the report made again on registry arrivals, printed only when it changed,
// and ended by SIGINT or SIGTERM with exit status 0.
#include <gtest/gtest.h>
#include <signal.h>

#include <thread>

#include "host/ReportWatch.h"
#include "platform/Json.h"
#include "platform/Process.h"
#include "profile/MachineProfile.h"
#include "reporter/XRModemReporter.h"
#include "support/Descriptors.h"

namespace xr {
namespace {

std::string modemReport() {
  return toJson(Value(XRModemReporter().updateDictionary(makeDictionary({{"_items", makeArray()}}))), -1);
}

// The modem item of a one-USB-modem machine, in process: arrivals from another thread make
// the report again on the loop's thread; only a changed one is printed.
TEST(ReportWatch, ReportsAgainOnArrivalsAndPrintsOnlyWhatChanged) {
  std::string error;
  auto profile = MachineProfile::open(XR_SOURCE_DIR "/examples/usb-one", &error);
  ASSERT_TRUE(profile) << error;
  auto store = RegistryStore::current();
  RunLoop& loop = RunLoop::current();
  const auto loopThread = std::this_thread::get_id();
  int made = 0;
  bool fail = false;
  std::vector<std::string> printed;
  ReportWatch watch(
      store,
      [&](std::string* failure) -> std::optional<std::string> {
        EXPECT_EQ(std::this_thread::get_id(), loopThread);
        ++made;
        loop.stop();  // one report per run of the watch
        if (fail) {
          *failure = "plug-in failed";
          return std::nullopt;
        }
        return modemReport();
      },
      [&](const std::string& report) {
        printed.push_back(report);
        return true;
      });
  const std::string first = modemReport();
  ASSERT_NE(first.find("\"xrmodem_numModems\":1"), std::string::npos) << first;

  // Two arrivals, neither a modem: one report, the same, not printed.
  std::thread([&] {
    store->addEntry("HwService:platform/usb", "Printer", "HwUSBDevice");
    store->addEntry("HwService:platform/usb", "Keyboard", "HwUSBDevice");
  }).join();
  EXPECT_EQ(watch.run(loop, first), "");
  EXPECT_EQ(made, 1);
  EXPECT_TRUE(printed.empty());

  std::thread([&] {
    store->addEntry("HwService:platform/usb", "USB Modem", "TarvoSM56KUSBModemFamily",
                    makeDictionary({{"locationID", 0x1d200000}}));
  }).join();
  EXPECT_EQ(watch.run(loop, first), "");
  EXPECT_EQ(made, 2);
  ASSERT_EQ(printed.size(), 1u);
  EXPECT_NE(printed[0].find("\"xrmodem_numModems\":2"), std::string::npos) << printed[0];

  fail = true;
  store->addEntry("HwService:platform/usb", "Mouse", "HwUSBDevice");
  EXPECT_EQ(watch.run(loop, printed[0]), "plug-in failed");
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

}  // namespace
}  // namespace xr

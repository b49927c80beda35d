// Many reports in one process, as a long-running inventory host would make them: each must
// give back everything it took and leave the modem line as it found it, and memory must stay
// flat. XR_SOAK_REPORTS sets the number of reports (1,000 by default; 200 under a sanitizer,
// whose bookkeeping makes each report slower and the allocator's figures meaningless).
//
// The plug-in's code is linked in rather than loaded, so that the test sees the same shared
// data handler as the reports and can tell its event log from a leak.
#include <gtest/gtest.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <fstream>

#include "e2e/Holdings.h"
#include "profile/MachineProfile.h"
#include "platform/Json.h"
#include "reporter/XRModemPlugin.h"
#include "serial/DataHandler.h"
#include "profile/ScriptedModem.h"

namespace xr {
namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

const std::string kMachine = XR_SOURCE_DIR "/tests/e2e/machines/soak";
// Reports before memory is first measured: caches, the allocator's arenas and the first
// loads of shared objects settle in these.
constexpr int kWarmUp = 20;

int reportCount() {
  if (const char* n = std::getenv("XR_SOAK_REPORTS"); n && std::atoi(n) > kWarmUp) return std::atoi(n);
  return kSanitized ? 200 : 1000;
}

size_t residentBytes() {
  std::ifstream statm("/proc/self/statm");
  size_t size = 0, resident = 0;
  statm >> size >> resident;
  return resident * static_cast<size_t>(::sysconf(_SC_PAGESIZE));
}

// Allocated bytes, large blocks (which the allocator maps on their own) included.
size_t heapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

// What the shared data handler's event log holds in the heap: it keeps every exchange for the
// life of the process and is never trimmed. Its array grows by doubling; each entry's bytes
// are a block of their own (the allocator's 8-byte header, 16-byte steps, 32 at least).
size_t eventLogBytes() {
  const auto log = DataHandler::sharedDataHandler()->eventLog();
  size_t bytes = std::bit_ceil(log.size()) * sizeof(DataHandlerLogEntry);
  for (const auto& entry : log) bytes += std::max<size_t>(32, (entry.logData.length() + 8 + 15) & ~size_t{15});
  return bytes;
}

// One report, as the modem reporter makes it: the plug-in object with its bundle's resources,
// the probe sequence, the cleaned item.
Value report(const std::shared_ptr<const Bundle>& bundle) {
  auto item = mutableCopy(XRModemPlugin::create(bundle)->getModemInfoDictionary());
  item->set("_name", "xrmodem_information");
  return Value(item);
}

TEST(SoakTest, ReportsGiveBackEverythingAndMemoryStaysFlat) {
  std::string error;
  auto profile = MachineProfile::open(kMachine, &error);
  ASSERT_TRUE(profile) << error;
  ScriptedModem* modem = profile->modem();
  ASSERT_TRUE(modem);
  const auto bundle = std::make_shared<Bundle>(XR_BINARY_DIR "/bin/XRModem.xrplugin");
  const auto expected = readJsonFile(kMachine + "/expected.json");
  ASSERT_TRUE(expected.ok()) << expected.error;
  const std::string expectedItem = toJson(expected.value);
  const test::Holdings before = test::Holdings::now(modem);
  ASSERT_TRUE(before.line);

  const int reports = reportCount();
  long heapAtWarmUp = 0, logAtWarmUp = 0, residentAtWarmUp = 0;
  for (int i = 1; i <= reports; ++i) {
    ASSERT_EQ(toJson(report(bundle)), expectedItem) << "report " << i;
    ASSERT_TRUE(test::sameHoldings(before, modem)) << "after report " << i;
    // Taking them also keeps the modem's own record from growing.
    ASSERT_EQ(modem->takeReceivedCommands(), (std::vector<std::string>{"ATI5", "ATI9"})) << "report " << i;
    if (i == kWarmUp) {
      residentAtWarmUp = static_cast<long>(residentBytes());
      logAtWarmUp = static_cast<long>(eventLogBytes());
      heapAtWarmUp = static_cast<long>(heapInUse());
    }
  }
  if (kSanitized) return;
  const long measured = reports - kWarmUp;
  const long logGrowth = static_cast<long>(eventLogBytes()) - logAtWarmUp;
  const long heapGrowth = static_cast<long>(heapInUse()) - heapAtWarmUp;
  const long residentGrowth = static_cast<long>(residentBytes()) - residentAtWarmUp;
  RecordProperty("heap_growth_bytes", std::to_string(heapGrowth));
  RecordProperty("event_log_growth_bytes", std::to_string(logGrowth));
  RecordProperty("resident_growth_bytes", std::to_string(residentGrowth));
  // Beyond the log the heap stays within a few kilobytes (page rounding of the log's array):
  // over 1,000 reports a report that kept as little as 16 bytes would show here.
  EXPECT_LT(heapGrowth - logGrowth, 16 * 1024)
      << "heap in use grew by " << heapGrowth << " bytes over " << measured << " reports, the event log by "
      << logGrowth;
  // Resident memory follows the heap, a little coarser (pages, the allocator's slack).
  EXPECT_LT(residentGrowth, std::max(logGrowth, 0L) + 512 * 1024)
      << "resident memory grew by " << residentGrowth << " bytes over " << measured << " reports";
}

}  // namespace
}  // namespace xr

// Many reports in one process, as a long-running inventory host would make them: each must
// give back every descriptor, thread, child process and registry handle it took and leave the
// modem line as it found it (memory is left to the sanitizers' leak check). XR_SOAK_REPORTS
// sets the number of reports (1,000 by default; 200 under a sanitizer). It takes real time,
// so it carries the label "slow".
//
// The plug-in's code is linked in rather than loaded, as the modem reporter makes each report.
#include <gtest/gtest.h>

#include <cstdlib>

#include "support/Holdings.h"
#include "profile/MachineProfile.h"
#include "platform/Json.h"
#include "reporter/XRModemPlugin.h"
#include "profile/ScriptedModem.h"

namespace xr {
namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

const std::string kMachine = XR_SOURCE_DIR "/tests/e2e/machines/soak";

int reportCount() {
  if (const char* n = std::getenv("XR_SOAK_REPORTS"); n && std::atoi(n) > 0) return std::atoi(n);
  return kSanitized ? 200 : 1000;
}

// One report, as the modem reporter makes it: the plug-in object with its bundle's resources,
// the probe sequence, the cleaned item.
Value report(const std::shared_ptr<const Bundle>& bundle) {
  auto item = mutableCopy(XRModemPlugin::create(bundle)->getModemInfoDictionary());
  item->set("_name", "xrmodem_information");
  return Value(item);
}

TEST(SoakTest, ReportsGiveBackEverything) {
  std::string error;
  auto profile = MachineProfile::open(kMachine, &error);
  ASSERT_TRUE(profile) << error;
  ScriptedModem* modem = profile->modem();
  ASSERT_TRUE(modem);
  const auto bundle = std::make_shared<Bundle>(XR_BINARY_DIR "/bin/XRModem.xrplugin");
  const auto expected = readJsonFile(kMachine + "/expected.json");
  ASSERT_TRUE(expected.ok()) << expected.error;
  const std::string expectedItem = toJson(expected.value);
  ASSERT_NE(test::lineSettings(modem->lineDescriptor()), "");
  const std::string before = test::holdings(modem);

  const int reports = reportCount();
  for (int i = 1; i <= reports; ++i) {
    ASSERT_EQ(toJson(report(bundle)), expectedItem) << "report " << i;
    ASSERT_TRUE(test::holdingsAre(before, modem)) << "after report " << i;
    // Taking them also keeps the modem's own record from growing.
    ASSERT_EQ(modem->takeReceivedCommands(), (std::vector<std::string>{"ATI5", "ATI9"})) << "report " << i;
  }
}

}  // namespace
}  // namespace xr

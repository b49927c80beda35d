// Whole reports on machines that misbehave while the report runs: a modem that goes away, a
// tool that takes its time, a modem device locked by another program or missing. Each report
// still comes out, says what it could learn, and gives back everything it took.
//
// One machine per process, as in xrreport: the plug-in's list of serial ports is made once per
// process and never refilled, so each case runs in a child process of its own. The plug-in's
// code is linked in, so that the dialogue's waits can be shortened for the scripted modem.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "support/Holdings.h"
#include "profile/MachineProfile.h"
#include "platform/Json.h"
#include "platform/RegistryStore.h"
#include "reporter/XRModemPlugin.h"
#include "support/ChildProcess.h"
#include "support/TempDirectory.h"
#include "profile/ScriptedModem.h"
#include "serial/UUCPLock.h"

namespace xr {
namespace {
namespace fs = std::filesystem;
using Commands = std::vector<std::string>;

const std::string kExamples = XR_SOURCE_DIR "/examples";

// The whole report made in this process: the machine installed, the plug-in made with the
// built bundle's resources, as the modem reporter makes it.
class InProcessReport {
 public:
  explicit InProcessReport(const std::string& machine) { profile_ = MachineProfile::open(machine, &error_); }
  bool ok() const { return profile_ != nullptr; }
  const std::string& error() const { return error_; }
  const MachineProfile& profile() const { return *profile_; }

  // One report; its modem item.
  Value modemItem() {
    auto plugin = XRModemPlugin::create(std::make_shared<Bundle>(XR_BINARY_DIR "/bin/XRModem.xrplugin"));
    // The scripted modem answers at once: a silent command gives up soon, no pause is needed.
    plugin->setDialogueTiming({.queryTimeout = std::chrono::milliseconds(500), .firmwarePause = {}});
    return Value(plugin->getModemInfoDictionary());
  }

 private:
  std::string error_;
  std::unique_ptr<MachineProfile> profile_;
};

class FaultTest : public ::testing::Test {
 protected:
  // A copy of the example machine to change before the report.
  std::string copyOf(const std::string& example) {
    const std::string machine = dir_.file(example);
    fs::remove_all(machine);  // a case's earlier copy
    fs::copy(kExamples + "/" + example, machine, fs::copy_options::recursive);
    return machine;
  }
  static void write(const std::string& path, const std::string& contents, fs::perms perms = fs::perms::none) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
    if (perms != fs::perms::none) fs::permissions(path, perms);
  }
  static std::string itemText(const Value& item, const std::string& key) {
    const DictionaryRef d = item.dictionary();
    return d ? d->get(key).stringValue().value_or("<absent>") : "<no item>";
  }
  static std::string expectedText(const std::string& example, const std::string& key) {
    return itemText(readJsonFile(kExamples + "/" + example + "/expected.json").value, key);
  }

  // Opens the machine, makes one report, checks that the report and then the machine gave
  // everything back (a modem that hangs up takes its own line and thread with it).
  Value report(const std::string& machine, Commands* commands = nullptr) {
    const test::Holdings process = test::Holdings::now(nullptr);
    Value item;
    {
      InProcessReport report(machine);
      EXPECT_TRUE(report.ok()) << report.error();
      if (!report.ok()) return Value();
      item = report.modemItem();
      if (commands && report.profile().modem()) *commands = report.profile().modem()->receivedCommands();
    }
    EXPECT_TRUE(test::sameHoldings(process, nullptr));
    return item;
  }

  test::TempDirectory dir_;
};

// The line drops once a reply is complete, as the next command arrives, or halfway through a
// reply: that command gets no answer; what came before stays in the report.
TEST_F(FaultTest, ModemGoesAwayAndAnswersBeforeTheDropStay) {
  const char* const answers = R"js("ATI4": "Tarvo Internal Modem", "ATI12": "S1", "ATI1": "TARVO VERSION 0005 (PELLAN/UCJ)")js";
  for (const std::string drop : {R"js(, "ATI5": "181"}, "Silent": ["ATI5"])js", R"js(}, "RawResponses": {"ATI5": "\r\n18"})js"}) {
    SCOPED_TRACE(drop);
    test::inChildProcess([&] {
      const std::string machine = copyOf("serial-pellan");
      write(machine + "/modem.json", R"js({"HangUpAfter": ["ATI5"], "Responses": {)js" + std::string(answers) + drop + "}");
      Commands sent;
      const Value item = report(machine, &sent);
      EXPECT_EQ(sent, (Commands{"ATI4", "ATI12", "ATI1", "ATI5"}));
      EXPECT_EQ(itemText(item, "xrmodem_model"), "Pellan");
      EXPECT_EQ(itemText(item, "xrmodem_fwvers"), expectedText("serial-pellan", "xrmodem_fwvers"));
      EXPECT_EQ(itemText(item, "xrmodem_driverinfo"), expectedText("serial-pellan", "xrmodem_driverinfo"));
      // Without the modem's answer there is no country code, not the 181 it never finished.
      EXPECT_EQ(itemText(item, "xrmodem_countryinfo").find("181"), std::string::npos);
    });
  }
}

// The driver-listing tool sits silent for a while before it answers: the report waits for it
// and shows the loaded version it then prints.
TEST_F(FaultTest, ToolThatHangsForAWhileStillGivesTheLoadedVersion) {
  test::inChildProcess([&] {
    const std::string machine = copyOf("torvin-prefs");
    const std::string tool = machine + "/root/usr/sbin/drvxstat";
    std::string script = test::readFile(tool);
    script.insert(script.find('\n') + 1, "sleep 1\n");
    write(tool, script, fs::perms::owner_all);
    EXPECT_EQ(itemText(report(machine), "xrmodem_driverinfo"), expectedText("torvin-prefs", "xrmodem_driverinfo"));
  });
}

// The modem's device is held by another program (its UUCP lock names a live process) or is
// not there: the modem is not spoken to, the rest of the report is made.
TEST_F(FaultTest, ModemDeviceCannotBeOpened) {
  for (bool locked : {true, false}) test::inChildProcess([&] {
    SCOPED_TRACE(locked ? "locked" : "missing");
    const std::string machine = copyOf("serial-pellan");
    InProcessReport report(machine);
    ASSERT_TRUE(report.ok()) << report.error();
    ScriptedModem* modem = report.profile().modem();
    ASSERT_TRUE(modem);
    if (locked) {
      const std::string name = fs::path(modem->devicePath()).filename();
      char pid[16];
      std::snprintf(pid, sizeof pid, "%10d\n", static_cast<int>(getppid()));  // the test runner: alive
      fs::create_directories(machine + "/root/var/lock");
      write(machine + "/root/var/lock/" + UUCPLock::lockFileName(name), pid);
    } else {
      auto registry = RegistryStore::current();
      registry->setProperty(registry->findEntry(RegistryStore::kServicePlane, "HwTTYDevice", Value("modem")),
                            "HwCalloutDevice", dir_.file("no-such-device"));
    }
    const test::Holdings before = test::Holdings::now(modem);
    const Value item = report.modemItem();
    EXPECT_TRUE(test::sameHoldings(before, modem));
    EXPECT_EQ(modem->receivedCommands(), Commands{});
    // What only the modem could say is left empty or out.
    EXPECT_EQ(itemText(item, "xrmodem_model"), "");
    EXPECT_EQ(itemText(item, "xrmodem_fwvers"), "<absent>");
    EXPECT_EQ(itemText(item, "xrmodem_countryinfo"), "");
    EXPECT_EQ(itemText(item, "xrmodem_driverinfo"), expectedText("serial-pellan", "xrmodem_driverinfo"));
  });
}

}  // namespace
}  // namespace xr

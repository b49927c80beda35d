// A whole report on a machine whose modem goes away while the report runs: the report still
// comes out, says what it could learn, and gives back everything it took. (A modem locked by
// another program is the TTY port's test; the linux-probe example locks a port end to end.)
// The plug-in's code is linked in, so that the dialogue's waits can be shortened for the
// scripted modem.
#include <gtest/gtest.h>

#include "platform/Json.h"
#include "profile/MachineProfile.h"
#include "profile/ScriptedModem.h"
#include "reporter/XRModemPlugin.h"
#include "support/Holdings.h"
#include "support/TempDirectory.h"
#include "support/SerialPortListPeer.h"

namespace xr {
namespace {
using Commands = std::vector<std::string>;

const std::string kPellan = XR_SOURCE_DIR "/examples/serial-pellan";

// The machine installed as xrreport installs it. The list of serial ports is read once per
// process: each machine here starts without it, as a new xrreport does.
std::unique_ptr<MachineProfile> openMachine(const std::string& machine) {
  test::SerialPortListPeer::resetShared();
  std::string error;
  auto profile = MachineProfile::open(machine, &error);
  EXPECT_TRUE(profile && profile->modem()) << error;
  return profile;
}

// One report's modem item, the plug-in made with the built bundle's resources as the modem
// reporter makes it.
Value modemItem() {
  auto plugin = XRModemPlugin::create(std::make_shared<Bundle>(XR_BINARY_DIR "/bin/XRModem.xrplugin"));
  // The scripted modem answers at once: a silent command gives up soon, no pause is needed.
  plugin->setDialogueTiming({.queryTimeout = std::chrono::milliseconds(500), .firmwarePause = {}});
  return Value(plugin->getModemInfoDictionary());
}

std::string itemText(const Value& item, const std::string& key) {
  const DictionaryRef d = item.dictionary();
  return d ? d->get(key).stringValue().value_or("<absent>") : "<no item>";
}
std::string expectedText(const std::string& key) {
  return itemText(readJsonFile(kPellan + "/expected.json").value, key);
}

// The line drops as the last command arrives: that command gets no answer (a drop halfway
// through a reply is the command's test); what came before stays in the report. The report and
// then the machine give everything back (a modem that hangs up takes its own line and thread
// with it).
TEST(FaultTest, ModemGoesAwayAndAnswersBeforeTheDropStay) {
  test::TempDirectory dir;
  const std::string machine = dir.copy(kPellan, "m");
  dir.write("m/modem.json", R"js({"HangUpAfter": ["ATI5"], "Silent": ["ATI5"], "Responses": {"ATI4": "Tarvo Internal Modem",
      "ATI12": "S1", "ATI1": "TARVO VERSION 0005 (PELLAN/UCJ)", "ATI5": "181"}})js");
  const std::string before = test::holdings(nullptr);
  Value item;
  Commands sent;
  if (auto profile = openMachine(machine)) {
    item = modemItem();
    sent = profile->modem()->receivedCommands();
  }
  EXPECT_TRUE(test::holdingsAre(before, nullptr));
  EXPECT_EQ(sent, (Commands{"ATI4", "ATI12", "ATI1", "ATI5"}));
  // (The driver, which the modem does not tell, is the serial-pellan example's.)
  EXPECT_EQ(itemText(item, "xrmodem_model"), "Pellan");
  EXPECT_EQ(itemText(item, "xrmodem_fwvers"), expectedText("xrmodem_fwvers"));
  // Without the modem's answer there is no country code, not the 181 it never sent.
  EXPECT_EQ(itemText(item, "xrmodem_countryinfo").find("181"), std::string::npos);
}

}  // namespace
}  // namespace xr

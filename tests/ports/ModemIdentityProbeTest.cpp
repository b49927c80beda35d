// The identity dialogue with a scripted modem on a real pty: what it finds, and that it leaves
// no lock file behind (the port's own test shows that closing restores the line).
#include "ports/ModemIdentityProbe.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <filesystem>

#include "platform/Json.h"
#include "platform/PlatformRoot.h"
#include "profile/ScriptedModem.h"
#include "support/TempDirectory.h"

namespace xr {
namespace {
using std::chrono::milliseconds;
using Strings = std::vector<std::string>;

// Per query and per port. A silent case waits a query's time out; an answered one must not
// run out of it on a loaded machine under a sanitizer.
const ModemIdentityProbe::Timing kTiming{milliseconds(500), milliseconds(5000)};

// An answer of bytes 'A's: one the engine takes whole when under its reply limit.
std::string longAnswer(size_t bytes) {
  std::string hex;
  for (size_t i = 0; i < bytes; ++i) hex += "41";
  return R"({"RawResponses": {"AT+GMI": {"$data": "0d0a)" + hex + R"(0d0a0d0a4f4b0d0a"}}})";
}

using Text = std::optional<std::string>;
ModemIdentity identity(Text gmi, Text gmm = {}, Text gmr = {}, Text gcap = {}, Text ati = {}) {
  return ModemIdentity{gmi, gmm, gmr, gcap, ati, ""};
}
ModemIdentity failure(const std::string& key) {
  ModemIdentity found;
  found.failure = key;
  return found;
}

class ModemIdentityProbeTest : public testing::Test {
 protected:
  void SetUp() override {
    root_.makeDirectory("var/lock");
  }
  std::unique_ptr<ScriptedModem> start(const std::string& json) {
    std::string error;
    auto script = ModemScript::fromValue(parseJson(json).value, &error);
    EXPECT_TRUE(script) << error;
    return script ? ScriptedModem::start(std::move(*script), &error) : nullptr;
  }
  static SerialPortRecord port(const std::string& path) {
    SerialPortRecord p;
    p.name = p.kernelName = "ttyACM7";
    p.kind = SerialPortKind::USBModem;
    p.openPath = path;
    return p;
  }

  test::TempDirectory root_;
  ScopedPlatformRoot scopedRoot_{root_.path()};
};

// A modem answering all four identity queries is the linux-probe example's; a flood is the
// command's own test.
TEST_F(ModemIdentityProbeTest, AsksOnlyWhatItMustAndLeavesNoLock) {
  const Strings identityQueries{"AT+GMI", "AT+GMM", "AT+GMR", "AT+GCAP"};
  Strings withFallback = identityQueries;
  withFallback.insert(withFallback.end(), {"ATI3", "ATI"});
  struct Case {
    std::string name;
    std::string script;  // modem.json
    ModemIdentity expected;
    Strings asked;
  } cases[] = {
      {"older modem", R"({"Responses": {"ATI": "56000"}})",
       identity({}, {}, {}, {}, "56000"), withFallback},
      // Equipment errors end a reply as ERROR does, even arriving a few bytes at a time.
      {"cellular modem", R"({"ChunkSize": 3, "Responses": {"AT+GMR": "2.4"}, "RawResponses": {
          "AT+GMI": {"$data": "0d0a2b434d45204552524f523a20340d0a"},
          "AT+GMM": {"$data": "0d0a2b434d53204552524f523a203530300d0a"}}})",
       identity({}, {}, "2.4"), identityQueries},
      {"says nothing of itself", "{}", failure("xrport_probe_noidentity"), withFallback},
      {"silent", R"({"Silent": ["AT+GMI"]})", failure("xrport_probe_noanswer"), {"AT+GMI"}},
      {"garbage, no final result", R"({"RawResponses": {"AT+GMI": {"$data": "fffe00e2"}}})",
       failure("xrport_probe_noanswer"), {"AT+GMI"}},
      {"gone mid-dialogue", R"({"Responses": {"AT+GMI": "Halden"}, "Silent": ["AT+GMM"], "HangUpAfter": ["AT+GMM"]})",
       identity("Halden"), {"AT+GMI", "AT+GMM"}},
      {"long answer", longAnswer(4000), identity(std::string(200, 'A')), identityQueries},
  };
  const auto fields = [](const ModemIdentity& m) {
    return std::tie(m.manufacturer, m.model, m.revision, m.capabilities, m.identification, m.failure);
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto modem = start(c.script);
    ASSERT_TRUE(modem);
    EXPECT_EQ(fields(ModemIdentityProbe(kTiming).probe(port(modem->devicePath()))), fields(c.expected));
    EXPECT_EQ(modem->receivedCommands(), c.asked);
    EXPECT_TRUE(std::filesystem::is_empty(root_.file("var/lock")));
  }
}

// A program that opened the port after the holders pass and took it for its own use (as modem
// managers do, without a lock file) keeps it, even from root.
TEST_F(ModemIdentityProbeTest, APortInAnotherProgramsExclusiveUseIsNotAsked) {
  auto modem = start(R"({"Responses": {"AT+GMI": "Halden"}})");
  ASSERT_TRUE(modem);
  ASSERT_EQ(ioctl(modem->lineDescriptor(), TIOCEXCL), 0);
  EXPECT_EQ(ModemIdentityProbe(kTiming).probe(port(modem->devicePath())).failure, "xrport_probe_held");
  EXPECT_EQ(modem->receivedCommands(), Strings{});
  int exclusive = 0;
  ASSERT_EQ(ioctl(modem->lineDescriptor(), TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 1);
}

}  // namespace
}  // namespace xr

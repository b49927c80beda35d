// xrreport as a real process on a machine profile with a scripted modem: the modem is started
// for the profile, the registry's "modem" port points at it, and --trace shows the dialogue.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>

#include "support/RunProgram.h"
#include "support/TempDirectory.h"

namespace xr {
namespace {

const std::string kXrreport = XR_BINARY_DIR "/bin/xrreport";

// The profile's registry names the modem's port "modem" with a call-out path that does not
// exist: only the running modem's pty can make the dialogue work.
const char* kRegistry = R"({
  "HwService": {"name": "root", "class": "HwRoot", "children": [
    {"name": "scc", "class": "HwSerialBSDClient", "properties": {
      "HwSerialBSDClientType": "HwSerialStream", "HwTTYDevice": "modem", "HwCalloutDevice": "/dev/cu.none"}}]},
  "HwDeviceTree": {"name": "device-tree", "class": "HwRoot"}
})";

TEST(XrreportModem, TraceShowsTheDialogueWithTheScriptedModem) {
  test::TempDirectory profile;
  profile.write("registry.json", kRegistry);
  profile.write("modem.json", R"({"Responses": {"ATI4": "Tarvo Internal Modem"}, "ChunkSize": 4})");

  const test::ProgramResult traced = test::runProgram(kXrreport, {"--machine", profile.path(), "--trace"});
  ASSERT_TRUE(traced.exited);
  EXPECT_EQ(traced.status, 0) << traced.err;
  // Each line: up-time, direction, bytes in hexadecimal, then as escaped text.
  const std::regex format(R"re(\d+\.\d{3} (write|read ) <[0-9a-f ]*> "(.*)")re");
  std::map<std::string, std::string> text;
  std::istringstream lines(traced.err);
  for (std::string line; std::getline(lines, line);) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, format)) << line;
    text[m[1]] += m[2];
  }
  EXPECT_TRUE(text["write"].starts_with(R"(ATI4\r)")) << traced.err;
  EXPECT_TRUE(text["read "].starts_with(R"(ATI4\r\r\nTarvo Internal Modem\r\n\r\nOK\r\n)")) << traced.err;
  EXPECT_NE(traced.err.find(R"( write <41544934 0d> "ATI4\r")"), std::string::npos) << traced.err;

  const test::ProgramResult quiet = test::runProgram(kXrreport, {"--machine", profile.path()});
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.err, "");
  EXPECT_EQ(quiet.out, traced.out);
}

}  // namespace
}  // namespace xr

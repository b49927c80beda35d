// xrreport as a real process on a machine profile with a scripted modem: the modem is started
// for the profile, the registry's "modem" port points at it, and --trace shows the dialogue.
#include <gtest/gtest.h>

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

struct Trace {
  std::string written;  // the text of every write, escaped as traced
  std::string read;
  bool stamped = true;  // every line starts with an up-time stamp
};

Trace parseTrace(const std::string& err) {
  Trace trace;
  std::istringstream lines(err);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t blank = line.find(' ');
    const size_t quote = line.find('"');
    if (blank == std::string::npos || quote == std::string::npos || line.back() != '"' ||
        line.find_first_not_of("0123456789.") != blank || line[blank - 4] != '.') {
      trace.stamped = false;
      continue;
    }
    const std::string text = line.substr(quote + 1, line.size() - quote - 2);
    if (line.compare(blank, 7, " write ") == 0) trace.written += text;
    if (line.compare(blank, 7, " read  ") == 0) trace.read += text;
  }
  return trace;
}

TEST(XrreportModem, TraceShowsTheDialogueWithTheScriptedModem) {
  test::TempDirectory profile;
  profile.write("registry.json", kRegistry);
  profile.write("modem.json", R"({"Responses": {"ATI4": "Tarvo Internal Modem"}, "ChunkSize": 4})");

  const test::ProgramResult traced = test::runProgram(kXrreport, {"--machine", profile.path(), "--trace"});
  ASSERT_TRUE(traced.exited);
  EXPECT_EQ(traced.status, 0) << traced.err;
  const Trace trace = parseTrace(traced.err);
  EXPECT_TRUE(trace.stamped) << traced.err;
  EXPECT_TRUE(trace.written.starts_with(R"(ATI4\r)")) << traced.err;
  EXPECT_TRUE(trace.read.starts_with(R"(ATI4\r\r\nTarvo Internal Modem\r\n\r\nOK\r\n)")) << traced.err;
  EXPECT_NE(traced.err.find(R"( write <41544934 0d> "ATI4\r")"), std::string::npos) << traced.err;

  const test::ProgramResult quiet = test::runProgram(kXrreport, {"--machine", profile.path()});
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.err, "");
  EXPECT_EQ(quiet.out, traced.out);
}

TEST(XrreportModem, UnusableModemScriptIsNamed) {
  test::TempDirectory profile;
  profile.write("registry.json", kRegistry);
  const std::string script = profile.write("modem.json", R"({"Responses": {"ATI4": 4}})");
  const test::ProgramResult r = test::runProgram(kXrreport, {"--machine", profile.path(), "--trace"});
  EXPECT_TRUE(r.exited);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find(script + ": Responses.ATI4"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace xr

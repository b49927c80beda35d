// xrreport as a real process in the ways a user's shell can hurt it: a signal in the middle of
// the modem dialogue or of a tool that hangs, a reader of its trace that goes away, and
// standard descriptors closed before it starts.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>

#include "profile/PseudoTerminal.h"
#include "support/Descriptors.h"
#include "support/Holdings.h"
#include "support/ProcessResources.h"
#include "support/RunProgram.h"
#include "support/TempDirectory.h"

namespace xr {
namespace {
namespace fs = std::filesystem;

const std::string kXrreport = XR_BINARY_DIR "/bin/xrreport";
const std::string kExamples = XR_SOURCE_DIR "/examples";

// A watchdog, not a measurement.
constexpr auto kPatience = std::chrono::seconds(20);

// Each runs on a copy of an example machine.
class InterruptTest : public ::testing::TestWithParam<int> {
 protected:
  test::TempDirectory dir_;
};

// The modem line is a pty left at the kernel's settings, as a real port starts, whose modem
// never answers. The signal comes once the first command has been written: the line is then
// raw, locked, and the report waits for the reply. The lock file goes with the report.
class DialogueInterruptTest : public InterruptTest {};
class ToolInterruptTest : public InterruptTest {};

TEST_P(DialogueInterruptTest, TheLineGetsItsSettingsBack) {
  auto pty = PseudoTerminal::open(nullptr, PseudoTerminal::LineSettings::kKernelDefault);
  ASSERT_TRUE(pty);
  const std::string before = test::lineSettings(pty->slaveDescriptor());
  ASSERT_NE(before, "");

  const std::string m = dir_.copy(kExamples + "/serial-silent", "m");
  fs::remove(m + "/modem.json");
  const std::string registry = std::regex_replace(test::readFile(m + "/registry.json"), std::regex("/dev/cu\\.modem"),
                                                  pty->slavePath());
  std::ofstream(m + "/registry.json", std::ios::trunc) << registry;
  const std::string locks = dir_.makeDirectory("m/root/run/lock");

  auto report = test::startProgram(kXrreport, {"--machine", m});
  ASSERT_TRUE(report);
  const std::string written = test::readUntil(pty->masterDescriptor(), [](const std::string& got) { return got.find("AT") != std::string::npos; });
  ASSERT_NE(written.find("AT"), std::string::npos) << "no command reached the line";
  ASSERT_FALSE(fs::is_empty(locks)) << "the line was opened without its lock file";
  ASSERT_EQ(::kill(report->pid(), GetParam()), 0);
  const test::ProgramResult ended = test::finishProgram(*report);
  EXPECT_TRUE(!ended.exited && ended.status == GetParam()) << ended.status << " " << ended.err;
  EXPECT_EQ(ended.out, "");
  EXPECT_EQ(test::lineSettings(pty->slaveDescriptor()), before);
  EXPECT_TRUE(fs::is_empty(locks)) << "a lock file outlived the report";
}

// The driver-listing tool hangs, with a job of its own in the background: both end with the
// report.
TEST_P(ToolInterruptTest, ItsWholeGroupEnds) {
  const std::string m = dir_.copy(kExamples + "/torvin-prefs", "m");
  const std::string pids = dir_.file("pids");
  const std::string tool = m + "/root/usr/sbin/drvxstat";
  std::ofstream(tool, std::ios::trunc) << "#!/bin/sh\nsleep 60 &\necho $$ $! > " + pids + ".new\nmv " + pids +
                                              ".new " + pids + "\nsleep 60\n";
  fs::permissions(tool, fs::perms::owner_all);

  auto report = test::startProgram(kXrreport, {"--machine", m});
  ASSERT_TRUE(report);
  ASSERT_TRUE(test::eventually([&] { return fs::exists(pids); }, kPatience)) << "the tool did not start";
  pid_t toolPid = 0, background = 0;
  std::ifstream(pids) >> toolPid >> background;
  ASSERT_TRUE(toolPid > 0 && background > 0);
  ASSERT_EQ(::kill(report->pid(), GetParam()), 0);
  const test::ProgramResult ended = test::finishProgram(*report);
  EXPECT_TRUE(!ended.exited && ended.status == GetParam()) << ended.status << " " << ended.err;
  EXPECT_TRUE(test::eventually([&] { return !test::alive(toolPid) && !test::alive(background); }, kPatience));
}

// Each signal that ends the report once; the cleanup is the same for all of them.
std::string signalName(const ::testing::TestParamInfo<int>& info) { return sigabbrev_np(info.param); }
INSTANTIATE_TEST_SUITE_P(Signals, DialogueInterruptTest, ::testing::Values(SIGINT, SIGHUP), signalName);
INSTANTIATE_TEST_SUITE_P(Signals, ToolInterruptTest, ::testing::Values(SIGTERM), signalName);

// The reader of the trace goes away while the modem's line is held (`--trace 2>&1 | head`):
// the report goes on without its trace, gives the line's lock file back and prints. The pipe is
// closed after the modem's first reply, in the pause before the next command.
TEST(BrokenPipe, TheTraceReaderGoingAwayEndsNothingHalfway) {
  test::TempDirectory dir;
  const std::string m = dir.copy(kExamples + "/serial-pellan", "m");
  const std::string locks = dir.makeDirectory("m/root/run/lock");
  auto report = test::startProgram(kXrreport, {"--machine", m, "--trace"});
  ASSERT_TRUE(report);
  FileDescriptor trace = report->takeErrors();
  const std::string read =
      test::readUntil(trace.get(), [](const std::string& got) { return got.find(" read ") != std::string::npos; });
  ASSERT_NE(read.find(" read "), std::string::npos) << "the modem never answered: " << read;
  ASSERT_FALSE(fs::is_empty(locks)) << "the line was opened without its lock file";
  trace.reset();
  const test::ProgramResult ended = test::finishProgram(*report);
  EXPECT_TRUE(ended.exited && ended.status == 0) << (ended.exited ? "status " : "signal ") << ended.status;
  EXPECT_EQ(ended.out, test::readFile(kExamples + "/serial-pellan/expected.txt"));
  EXPECT_TRUE(fs::is_empty(locks)) << "a lock file outlived the report";
}

// Closed standard descriptors are taken by /dev/null before anything else opens: the report is
// never written into the modem's line (serial-pellan's scripted modem is the first thing
// xrreport opens), and a closed standard output still fails the write, the usage's too (as
// does a full one). The shell closes them and becomes xrreport.
TEST(StandardDescriptors, ClosedOnesAreNeverTheModemLine) {
  const std::string pellan = kExamples + "/serial-pellan";
  struct Case {
    std::string closing, args;
    int status;
    std::string out, err;
  } cases[] = {
      {">&-", "", 1, "", "xrreport: standard output cannot be written\n"},
      {">&-", " --help", 1, "", "xrreport: standard output cannot be written\n"},
      {">/dev/full", " --help", 1, "", "xrreport: standard output cannot be written\n"},
      {"<&- 2>&-", " --trace", 0, test::readFile(pellan + "/expected.txt"), ""},
  };
  for (const Case& c : cases) {
    const test::ProgramResult r =
        test::runProgram("/bin/sh", {"-c", "exec \"$0\" --machine \"$1\"" + c.args + " " + c.closing, kXrreport, pellan});
    EXPECT_TRUE(r.exited && r.status == c.status) << r.status << r.err;
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);  // nothing, where it was closed
  }
}

}  // namespace
}  // namespace xr

// xrreport as a real process in the ways a user's shell can hurt it: a signal in the middle of
// the modem dialogue or of a tool that hangs, and standard descriptors closed before it starts.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <fstream>
#include <regex>

#include "platform/Posix.h"
#include "support/Descriptors.h"
#include "support/Holdings.h"
#include "support/ProcessResources.h"
#include "support/SpawnedProgram.h"
#include "support/TempDirectory.h"

namespace xr {
namespace {
namespace fs = std::filesystem;

const std::string kXrreport = XR_BINARY_DIR "/bin/xrreport";
const std::string kExamples = XR_SOURCE_DIR "/examples";

// xrreport started with its standard output and error on pipes, or the given ones closed.
struct Report : test::SpawnedProgram {
  explicit Report(const std::vector<std::string>& args, const std::vector<int>& closed = {})
      : SpawnedProgram(kXrreport, args, closed) {}
};

// A watchdog, not a measurement.
constexpr auto kPatience = std::chrono::seconds(20);

class InterruptTest : public ::testing::TestWithParam<int> {
 protected:
  // A copy of an example machine.
  std::string machine(const std::string& example) {
    const std::string copy = dir_.file(example);
    fs::copy(kExamples + "/" + example, copy, fs::copy_options::recursive);
    return copy;
  }
  test::TempDirectory dir_;
};

// The modem line is a pty left at the kernel's settings, as a real port starts, whose modem
// never answers. The signal comes once the first command has been written: the line is then
// raw and the report waits for the reply.
class DialogueInterruptTest : public InterruptTest {};
class ToolInterruptTest : public InterruptTest {};

TEST_P(DialogueInterruptTest, TheLineGetsItsSettingsBack) {
  FileDescriptor master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  ASSERT_TRUE(master && ::grantpt(master.get()) == 0 && ::unlockpt(master.get()) == 0);
  const std::string line = ::ptsname(master.get());
  FileDescriptor slave(posix::open(line.c_str(), O_RDWR | O_NOCTTY));
  termios before{};
  ASSERT_EQ(::tcgetattr(slave.get(), &before), 0);

  const std::string m = machine("serial-silent");
  fs::remove(m + "/modem.json");
  const std::string registry = std::regex_replace(test::readFile(m + "/registry.json"), std::regex("/dev/cu\\.modem"), line);
  std::ofstream(m + "/registry.json", std::ios::trunc) << registry;

  Report report({"--machine", m});
  const std::string written = test::readUntil(master.get(), [](const std::string& got) { return got.find("AT") != std::string::npos; });
  ASSERT_NE(written.find("AT"), std::string::npos) << "no command reached the line";
  ASSERT_EQ(::kill(report.pid(), GetParam()), 0);
  const int status = report.finish();
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == GetParam()) << status << " " << report.err();
  EXPECT_EQ(report.out(), "");
  termios after{};
  ASSERT_EQ(::tcgetattr(slave.get(), &after), 0);
  EXPECT_TRUE(test::sameLine(before, after));
}

// The driver-listing tool hangs, with a job of its own in the background: both end with the
// report.
TEST_P(ToolInterruptTest, ItsWholeGroupEnds) {
  const std::string m = machine("torvin-prefs");
  const std::string pids = dir_.file("pids");
  const std::string tool = m + "/root/usr/sbin/drvxstat";
  std::ofstream(tool, std::ios::trunc) << "#!/bin/sh\nsleep 60 &\necho $$ $! > " + pids + ".new\nmv " + pids +
                                              ".new " + pids + "\nsleep 60\n";
  fs::permissions(tool, fs::perms::owner_all);

  Report report({"--machine", m});
  ASSERT_TRUE(test::eventually([&] { return fs::exists(pids); }, kPatience)) << "the tool did not start";
  pid_t toolPid = 0, background = 0;
  std::ifstream(pids) >> toolPid >> background;
  ASSERT_TRUE(toolPid > 0 && background > 0);
  ASSERT_EQ(::kill(report.pid(), GetParam()), 0);
  const int status = report.finish();
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == GetParam()) << status << " " << report.err();
  EXPECT_TRUE(test::eventually([&] { return !test::alive(toolPid) && !test::alive(background); }, kPatience));
}

// Each signal that ends the report once; the cleanup is the same for all of them.
std::string signalName(const ::testing::TestParamInfo<int>& info) { return sigabbrev_np(info.param); }
INSTANTIATE_TEST_SUITE_P(Signals, DialogueInterruptTest, ::testing::Values(SIGINT, SIGHUP), signalName);
INSTANTIATE_TEST_SUITE_P(Signals, ToolInterruptTest, ::testing::Values(SIGTERM), signalName);

// Closed standard descriptors are taken by /dev/null before anything else opens: the report is
// never written into the modem's line (serial-pellan's scripted modem is the first thing
// xrreport opens), and a closed standard output still fails the write.
TEST(StandardDescriptors, ClosedOnesAreNeverTheModemLine) {
  const std::string pellan = kExamples + "/serial-pellan";
  const std::string expected = test::readFile(pellan + "/expected.txt");
  struct Case {
    std::vector<int> closed;
    std::vector<std::string> args;
    int status;
    std::string out, err;
  } cases[] = {
      {{STDOUT_FILENO}, {}, 1, "", "xrreport: standard output cannot be written\n"},
      {{STDIN_FILENO, STDERR_FILENO}, {"--trace"}, 0, expected, ""},
  };
  std::vector<std::unique_ptr<Report>> reports;  // side by side: most of their time is the modem's pause
  for (const Case& c : cases) {
    std::vector<std::string> args{"--machine", pellan};
    args.insert(args.end(), c.args.begin(), c.args.end());
    reports.push_back(std::make_unique<Report>(args, c.closed));
  }
  for (size_t i = 0; i < reports.size(); ++i) {
    const int status = reports[i]->finish();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == cases[i].status) << status;
    EXPECT_EQ(reports[i]->out(), cases[i].out);
    EXPECT_EQ(reports[i]->err(), cases[i].err);  // nothing, where it was closed
  }
}

}  // namespace
}  // namespace xr

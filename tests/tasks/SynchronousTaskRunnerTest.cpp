#include <gtest/gtest.h>

#include "tasks/SynchronousTaskRunner.h"
#include "tasks/TaskTesting.h"

namespace xr {
namespace {

struct CountingClient : TaskRunnerClient {
  int started = 0;
  void taskStarted() override { ++started; }
  void taskFinished() override { ADD_FAILURE() << "no runner sends taskFinished"; }
};

struct SyncCase {
  const char* label;
  std::string body;  // script body; empty: no tool at all
  bool executable;
  std::vector<std::string> args;
  std::optional<std::string> output;
  friend void PrintTo(const SyncCase& c, std::ostream* os) { *os << c.label; }
};

class SynchronousRunTest : public ToolTest, public testing::WithParamInterface<SyncCase> {};
TEST_P(SynchronousRunTest, GivesTheToolsOutputOrNothing) {
  const auto& c = GetParam();
  std::string tool = c.body.empty() ? dir_.file("missing") : script("tool", c.body, c.executable);
  CountingClient client;
  SynchronousTaskRunner runner(&client, tool, c.args);
  runner.startTask();
  EXPECT_EQ(client.started, 1);
  EXPECT_EQ(runner.output(), c.output);
  EXPECT_EQ(runner.file(), -1);  // the pipe is closed once the output is read
}
INSTANTIATE_TEST_SUITE_P(
    Tools, SynchronousRunTest,
    testing::Values(
        SyncCase{"BothStreamsInOneInOrder", "echo out1; echo err >&2; echo out2", true, {}, "out1\nerr\nout2\n"},
        SyncCase{"StderrOnly", "echo only on stderr >&2", true, {}, "only on stderr\n"},
        SyncCase{"NonZeroExitDiscardsOutput", "echo text; exit 1", true, {}, ""},
        SyncCase{"KilledDiscardsOutput", "echo text; kill -TERM $$", true, {}, ""},
        SyncCase{"SilentSuccess", "true", true, {}, ""},
        SyncCase{"InvalidUtf8", "printf 'caf\\351\\n'", true, {}, std::nullopt},
        SyncCase{"InvalidUtf8ButFailed", "printf '\\377'; exit 2", true, {}, ""},
        SyncCase{"Utf8Kept", "printf 'caf\\303\\251'", true, {}, "caf\xC3\xA9"},
        SyncCase{"ArgumentsUnchanged", "printf '<%s>' \"$@\"", true, {"a b", "-b com.x", ""}, "<a b><-b com.x><>"},
        SyncCase{"NotExecutable", "echo hi", false, {}, ""},
        SyncCase{"Missing", "", true, {}, ""}),
    [](const auto& info) { return info.param.label; });

}  // namespace
}  // namespace xr

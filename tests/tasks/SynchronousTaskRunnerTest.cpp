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

class SynchronousTaskRunnerTest : public ToolTest {};

TEST_F(SynchronousTaskRunnerTest, GivesTheToolsOutputOrNothing) {
  struct Case {
    const char* body;  // nullptr: no tool at all
    bool executable;
    std::vector<std::string> args;
    std::optional<std::string> output;
  } cases[] = {
      {"echo out1; echo err >&2; echo out2", true, {}, "out1\nerr\nout2\n"},
      {"echo only on stderr >&2", true, {}, "only on stderr\n"},
      {"echo text; exit 1", true, {}, ""},
      {"echo text; kill -TERM $$", true, {}, ""},
      {"printf 'caf\\351\\n'", true, {}, std::nullopt},
      {"printf '\\377'; exit 2", true, {}, ""},  // a failure wins over bad text
      {"printf '<%s>' \"$@\"", true, {"a b", "-b com.x", ""}, "<a b><-b com.x><>"},
      {"echo hi", false, {}, ""},
      {nullptr, true, {}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body ? c.body : "(missing)");
    std::string tool = c.body ? script("tool", c.body, c.executable) : dir_.file("missing");
    CountingClient client;
    SynchronousTaskRunner runner(&client, tool, c.args);
    runner.startTask();
    EXPECT_EQ(client.started, 1);
    EXPECT_EQ(runner.output(), c.output);
    EXPECT_EQ(runner.file(), -1);  // the pipe is closed once the output is read
  }
}

}  // namespace
}  // namespace xr

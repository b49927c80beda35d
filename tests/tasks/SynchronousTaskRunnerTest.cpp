#include <gtest/gtest.h>

#include <chrono>

#include "platform/Trace.h"
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

// The tool's output; none when it is not UTF-8; "" for a run that fails, which the trace says
// why in one line. (Which files cannot be launched is the process's test.)
TEST_F(SynchronousTaskRunnerTest, GivesTheToolsOutputOrSaysWhyNot) {
  std::vector<std::string> lines;
  setTraceSink([&](std::string_view line) { lines.emplace_back(line); });
  struct Case {
    const char* body;  // nullptr: no tool at all
    std::vector<std::string> args;
    std::optional<std::string> output;
    std::string trace;  // after "tool PATH: "; "" for none
  } cases[] = {
      {"echo out1; echo err >&2; echo out2", {}, "out1\nerr\nout2\n", ""},
      {"printf 'caf\\351\\n'", {}, std::nullopt, ""},
      {"printf '\\377'; exit 2", {}, "", "exit status 2"},  // a failure wins over bad text
      {"printf '<%s>' \"$@\"", {"a b", "-b com.x", ""}, "<a b><-b com.x><>", ""},
      {"kill -TERM $$", {}, "", "killed by signal 15"},
      {"echo begun; sleep 60", {}, "", "killed at its deadline (200 ms)"},
      {"head -c 5000 /dev/zero", {}, "", "killed: output over 4096 bytes"},
      {nullptr, {}, "", "cannot be started: No such file or directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body ? c.body : "(missing)");
    lines.clear();
    const std::string tool = c.body ? script("tool", c.body) : dir_.file("missing");
    CountingClient client;  // optional: the last case has none
    SynchronousTaskRunner runner(c.body ? &client : nullptr, tool, c.args);
    runner.setLimits({std::chrono::milliseconds(200), 4096});
    runner.startTask();
    EXPECT_EQ(client.started, c.body ? 1 : 0);
    EXPECT_EQ(runner.output(), c.output);
    EXPECT_EQ(runner.file(), -1);  // the pipe is closed once the output is read
    if (c.trace.empty()) {
      EXPECT_EQ(lines, std::vector<std::string>{});
    } else {
      ASSERT_EQ(lines.size(), 1u);
      EXPECT_TRUE(lines[0].ends_with(" note  tool " + tool + ": " + c.trace)) << lines[0];
    }
  }
  setTraceSink(nullptr);
}

}  // namespace
}  // namespace xr

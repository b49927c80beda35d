// One synchronous run of a trivial tool through the runner the lookups use: spawn, collect the
// output, reap, decode. Target: median <= 3 ms.
#include <benchmark/benchmark.h>

#include "tasks/SynchronousTaskRunner.h"

namespace {

struct NullClient : xr::TaskRunnerClient {
  void taskStarted() override {}
  void taskFinished() override {}
};

void BM_SynchronousTaskRunnerTrivialTool(benchmark::State& state) {
  NullClient client;
  for (auto _ : state) {
    xr::SynchronousTaskRunner runner(&client, "/bin/echo", {"com.x (1.0.3b4)"});
    runner.startTask();
    if (!runner.output() || runner.output()->empty()) state.SkipWithError("no output");
    benchmark::DoNotOptimize(runner.output());
  }
}
BENCHMARK(BM_SynchronousTaskRunnerTrivialTool)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(10)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();

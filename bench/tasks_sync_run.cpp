// One synchronous run of a trivial tool through the runner the lookups use: spawn, collect the
// output, reap, decode. Target: median <= 3 ms (counter median_ms).
#include <benchmark/benchmark.h>

#include "Samples.h"
#include "tasks/SynchronousTaskRunner.h"

namespace {

struct NullClient : xr::TaskRunnerClient {
  void taskStarted() override {}
  void taskFinished() override {}
};

void BM_SynchronousTaskRunnerTrivialTool(benchmark::State& state) {
  NullClient client;
  xr::bench::Samples runs(state.max_iterations);
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    xr::SynchronousTaskRunner runner(&client, "/bin/echo", {"com.x (1.0.3b4)"});
    runner.startTask();
    runs.add(xr::bench::millisecondsSince(start));
    if (!runner.output() || runner.output()->empty()) state.SkipWithError("no output");
    benchmark::DoNotOptimize(runner.output());
  }
  runs.report(state, "ms");
}
// Wall time: the parent's CPU time is a small part of a run, the child's is not counted.
BENCHMARK(BM_SynchronousTaskRunnerTrivialTool)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1000);

}  // namespace

BENCHMARK_MAIN();

// One run of a trivial tool: spawn, collect its output, reap. Target: median <= 3 ms
// (counter median_ms).
#include <benchmark/benchmark.h>

#include "Samples.h"
#include "platform/Process.h"

namespace {

void BM_ProcessRunTrivialTool(benchmark::State& state) {
  xr::bench::Samples runs(state.max_iterations);
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    auto result = xr::Process::run("/bin/echo", {"version (1.2.3)"});
    runs.add(xr::bench::millisecondsSince(start));
    if (!result || !result->termination.success()) state.SkipWithError("tool failed");
    benchmark::DoNotOptimize(result);
  }
  runs.report(state, "ms");
}
// Wall time: the parent's CPU time is a small part of a run, the child's is not counted.
BENCHMARK(BM_ProcessRunTrivialTool)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1000);

}  // namespace

BENCHMARK_MAIN();

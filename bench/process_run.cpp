// One run of a trivial tool: spawn, collect its output, reap. Target: median <= 3 ms.
#include <benchmark/benchmark.h>

#include "platform/Process.h"

namespace {

void BM_ProcessRunTrivialTool(benchmark::State& state) {
  for (auto _ : state) {
    auto result = xr::Process::run("/bin/echo", {"version (1.2.3)"});
    if (!result || !result->termination.success()) state.SkipWithError("tool failed");
    benchmark::DoNotOptimize(result);
  }
}
BENCHMARK(BM_ProcessRunTrivialTool)->Unit(benchmark::kMillisecond)->Repetitions(10)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();

// Building the live registry in process. Target: at most 1 ms on a machine with nothing to
// find (67 virtual ttys and one UART, as a fake tree); this machine's own /sys is shown beside.
#include <benchmark/benchmark.h>

#include "live/LiveRegistry.h"
#include "support/FakeSystem.h"

namespace {
using namespace xr;

void build(benchmark::State& state, const std::string& root) {
  for (auto _ : state) {
    LiveRegistry live({root, {}});
    live.build();
    benchmark::DoNotOptimize(live.store()->entryCount());
  }
}

void BM_LiveRegistryNothingToFind(benchmark::State& state) {
  test::FakeSystem sys;
  sys.nothingToFind();
  build(state, sys.root());
}
BENCHMARK(BM_LiveRegistryNothingToFind)->Unit(benchmark::kMicrosecond);

void BM_LiveRegistryThisMachine(benchmark::State& state) { build(state, "/"); }
BENCHMARK(BM_LiveRegistryThisMachine)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

// What honouring lock files and tracing cost a report that has no use for them:
//   BM_UUCPLockTakeAndGiveBack: a free device's lock checked, taken and removed again in the
//                               system's lock directories (a stale lock in the way half the
//                               time). Target: median <= 0.1 ms (counter median_ms).
//   BM_TraceNoteOff:            one "why" line of the trace while --trace is off. Target:
//                               <= 0.1 ms (it is a flag test).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "Samples.h"
#include "platform/Trace.h"
#include "serial/UUCPLock.h"

namespace {

void BM_UUCPLockTakeAndGiveBack(benchmark::State& state) {
  const std::vector<std::string> directories = xr::UUCPLock::defaultDirectories();
  if (directories.empty()) return state.SkipWithError("no lock directory on this system");
  const std::string device = "/dev/xr-bench-" + std::to_string(::getpid());
  const std::string stale = directories.front() + "/LCK..xr-bench-" + std::to_string(::getpid());
  xr::bench::Samples runs(state.max_iterations);
  bool withStale = false;
  for (auto _ : state) {
    state.PauseTiming();
    if ((withStale = !withStale)) std::ofstream(stale) << "     99999999\n";  // no such pid
    state.ResumeTiming();
    const auto start = std::chrono::steady_clock::now();
    xr::UUCPLock lock(device, directories);
    if (lock.acquire() != xr::UUCPLock::Status::kAcquired) state.SkipWithError("lock not taken");
    lock.release();
    runs.add(xr::bench::millisecondsSince(start));
  }
  runs.report(state, "ms");
}
BENCHMARK(BM_UUCPLockTakeAndGiveBack)->Unit(benchmark::kMicrosecond)->UseRealTime()->Iterations(2000);

void BM_TraceNoteOff(benchmark::State& state) {
  xr::setTraceSink(nullptr);
  const std::string path = "/dev/ttyS0";
  for (auto _ : state) {
    xr::traceNote(path, ": busy: locked by pid ", "1234", " (/var/lock/LCK..ttyS0)");
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_TraceNoteOff);

}  // namespace

BENCHMARK_MAIN();

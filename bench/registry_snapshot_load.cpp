// Loading registry.json snapshots of 10,000 and 100,000 entries. Target: 100,000 in at most
// 1 s. The counters show memory: heap bytes the loaded registry keeps per entry (the same at
// both sizes when memory is linear in the entries) and the process's peak resident size.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "platform/RegistrySnapshot.h"

namespace {

using namespace xr;

// Hubs of 100 devices, each with a few properties of the kinds machine profiles hold.
std::string writeSnapshot(int entries) {
  std::string path = "/tmp/xr-bench-registry-" + std::to_string(getpid()) + "-" + std::to_string(entries) + ".json";
  std::ofstream out(path);
  out << R"({"HwDeviceTree": {"name": "device-tree", "class": "HwDeviceTreeNode"},)"
      << R"( "HwService": {"name": "Root", "class": "HwPlatform", "children": [)";
  int made = 0;
  while (made < entries) {
    if (made) out << ",";
    out << R"({"name": "hub", "class": "HwUSBHub", "children": [)";
    ++made;
    for (int i = 0; i < 99 && made < entries; ++i, ++made) {
      if (i) out << ",";
      out << R"({"name": "dev)" << made << R"(", "class": "HwUSBDevice", "properties": {"locationID": )" << made
          << R"(, "compatible": {"$data": "7573622c64657669636500"}, "HwTTYDevice": "usbmodem)" << made << R"("}})";
    }
    out << "]}";
  }
  out << "]}}\n";
  return path;
}

size_t heapInUse() { return mallinfo2().uordblks; }

void BM_LoadSnapshot(benchmark::State& state) {
  const int entries = static_cast<int>(state.range(0));
  std::string path = writeSnapshot(entries);
  double retained = 0;
  for (auto _ : state) {
    state.PauseTiming();
    size_t before = heapInUse();
    state.ResumeTiming();
    auto result = readRegistrySnapshot(path);
    state.PauseTiming();  // measuring memory and freeing the registry are not loading
    if (!result.ok()) state.SkipWithError(result.error.c_str());
    retained = static_cast<double>(heapInUse() - before) / entries;
    result = {};
    state.ResumeTiming();
  }
  std::remove(path.c_str());
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["retained_B_per_entry"] = retained;
  state.counters["peak_RSS_MB"] = static_cast<double>(usage.ru_maxrss) / 1024;
}
BENCHMARK(BM_LoadSnapshot)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

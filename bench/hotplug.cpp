// Hot-plug latency on the live machine, under a umockdev testbed (the bench runs itself again
// under umockdev's preload library): from adding a tty to the testbed to the first-match
// callback that drains its port, through the udev monitor, the live registry and the run loop
// (counter median_ms; target 5 ms).
#include <umockdev.h>

#include <string>

#include "Samples.h"
#include "live/LiveMachine.h"
#include "support/UmockdevPreload.h"
#include "support/UmockdevTestbed.h"

namespace {
using namespace xr;

UMockdevTestbed* gTestbed = nullptr;  // made first thing in main

void HotplugToFirstMatch(benchmark::State& state) {
  if (!umockdev_in_mock_environment()) {
    state.SkipWithError("umockdev's preload library could not be loaded");
    return;
  }
  test::UsbModem modem(gTestbed, "1-2");
  // The live machine as xrreport opens it, on "/", which the testbed stands for.
  std::string error;
  const auto live = LiveMachine::open(LiveMachine::Options{}, &error);
  if (!live || !live->registry().store()->feed()) {
    state.SkipWithError(live ? "no device monitor" : error.c_str());
    return;
  }
  test::PortDiscovery discovery;
  bench::Samples samples(state.max_iterations);
  int minor = 0;
  for (auto _ : state) {
    const size_t expected = discovery.ports.size() + 1;
    const auto start = std::chrono::steady_clock::now();
    modem.addTty(minor++);
    const auto deadline = RunLoop::Clock::now() + std::chrono::seconds(10);
    while (discovery.ports.size() < expected && RunLoop::current().runOnce(deadline)) {
    }
    const double ms = bench::millisecondsSince(start);
    if (discovery.ports.size() != expected) {
      state.SkipWithError("an arrival did not reach the callback");
      break;
    }
    state.SetIterationTime(ms / 1e3);
    samples.add(ms);
  }
  samples.report(state, "ms");
}
BENCHMARK(HotplugToFirstMatch)->UseManualTime()->Iterations(200)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  xr::test::reexecUnderUmockdev(argv);
  gTestbed = umockdev_testbed_new();  // before anything looks at /sys
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  g_object_unref(gTestbed);
  return 0;
}

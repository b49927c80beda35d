// getInternalSerialModemDriverName over a 100,000-entry HwService plane whose only match is
// the last modem entry (its driver child closes the plane). Target: at most 50 ms.
#include <benchmark/benchmark.h>

#include <string_view>

#include "platform/RegistryStore.h"
#include "reporter/XRModemPlugin.h"

namespace {

using namespace xr;
using namespace std::string_view_literals;

// Hubs of 100 devices each; every device has a compatible list the word is not in.
std::shared_ptr<RegistryStore> makePlane(int entries) {
  auto store = RegistryStore::create();
  auto* root = store->root("HwService");
  auto compatible = Value(dataWithString("pci8086,2829\0pciclass,010601\0ahci\0"sv));
  int made = 0;
  while (made < entries - 2) {
    auto* hub = store->addEntry(root, "hub", "HwPCIBridge");
    ++made;
    for (int i = 0; i < 99 && made < entries - 2; ++i, ++made) {
      store->addEntry(hub, "dev", "HwPCIDevice", makeDictionary({{"compatible", compatible}}));
    }
  }
  auto* modem = store->addEntry(root, "modem", "HwPCIDevice",
                                makeDictionary({{"compatible", dataWithString("pci14e4,4320\0vantik\0"sv)}}));
  store->addEntry(modem, "driver", "HwService", makeDictionary({{"PkBundleIdentifier", "com.tarvo.driver.Vantik"}}));
  return store;
}

void BM_InternalSerialModemDriverName(benchmark::State& state) {
  auto store = makePlane(static_cast<int>(state.range(0)));
  ScopedRegistry installed(store);
  auto plugin = std::make_shared<XRModemPlugin>(nullptr);
  for (auto _ : state) {
    auto name = plugin->getInternalSerialModemDriverName("vantik");
    if (name != "com.tarvo.driver.Vantik") state.SkipWithError("driver not found");
    benchmark::DoNotOptimize(name);
  }
  state.counters["entries"] = static_cast<double>(store->entryCount() - 2);
}
BENCHMARK(BM_InternalSerialModemDriverName)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

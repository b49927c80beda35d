// Cost of the country list per report: loading the shipped resource (once per plug-in object)
// and looking a code up in it: the first entry, one far in, and a miss that walks the list.
#include <benchmark/benchmark.h>

#include "platform/Bundle.h"
#include "reporter/XRModemPlugin.h"
#include "support/XRModemPluginPeer.h"

namespace xr {
namespace {

std::shared_ptr<const Bundle> shippedBundle() {
  static auto bundle = std::make_shared<Bundle>(XR_BINARY_DIR "/bin/XRModem.xrplugin");
  return bundle;
}

void BM_LoadCountryList(benchmark::State& state) {
  for (auto _ : state) {
    XRModemPlugin plugin(shippedBundle());
    if (!plugin.countryCodeArray()) state.SkipWithError("country list missing from the plug-in bundle");
    benchmark::DoNotOptimize(plugin.countryCodeArray());
  }
}
BENCHMARK(BM_LoadCountryList)->Unit(benchmark::kMicrosecond);

void BM_CountryNames(benchmark::State& state) {
  XRModemPlugin plugin(shippedBundle());
  test::XRModemPluginPeer(plugin).isTorvinFamily() = true;
  const auto code = static_cast<uint8_t>(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(plugin.countryNamesForCountryCode(code));
}
// 0x5C is the first entry (Afghanistan); 0x3F is in no entry, so the whole list is walked.
BENCHMARK(BM_CountryNames)->Arg(0x5C)->Arg(0xB5)->Arg(0x3F);

}  // namespace
}  // namespace xr

BENCHMARK_MAIN();

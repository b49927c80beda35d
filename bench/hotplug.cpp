// Hot-plug latency on the live machine, under a umockdev testbed (the bench runs itself again
// under umockdev's preload library): from adding a tty to the testbed to the first-match
// callback that drains its port, through the udev monitor, the live registry and the run loop
// (counter median_ms; target 5 ms).
#include <umockdev.h>

#include <string>

#include "Samples.h"
#include "live/LiveRegistry.h"
#include "live/LiveRegistryFeed.h"
#include "live/UdevMonitor.h"
#include "platform/Registry.h"
#include "platform/RegistryObject.h"
#include "platform/RunLoop.h"
#include "support/UmockdevPreload.h"

namespace {
using namespace xr;

UMockdevTestbed* gTestbed = nullptr;  // made first thing in main

std::string owned(gchar* s) {
  std::string copy = s ? s : "";
  g_free(s);
  return copy;
}

struct Arrived {
  int ports = 0;
};
void portsAppeared(void* context, RegistryHandle iterator) {
  while (RegistryObject port{RegistryIteratorNext(iterator)}) ++static_cast<Arrived*>(context)->ports;
}

void HotplugToFirstMatch(benchmark::State& state) {
  if (!umockdev_in_mock_environment()) {
    state.SkipWithError("umockdev's preload library could not be loaded");
    return;
  }
  const std::string device = owned(umockdev_testbed_add_device(
      gTestbed, "usb", "1-2", nullptr, "idVendor", "1234", "idProduct", "5678", "busnum", "1", "devpath", "2",
      nullptr, "DEVTYPE", "usb_device", nullptr));
  const std::string interface = owned(umockdev_testbed_add_device(
      gTestbed, "usb", "1-2:1.0", device.c_str(), "bInterfaceNumber", "00", "bInterfaceClass", "02", "bInterfaceSubClass", "02",
      "bInterfaceProtocol", "01", nullptr, "DEVTYPE", "usb_interface", nullptr));
  umockdev_testbed_set_attribute_link(gTestbed, interface.c_str(), "driver", "../../../bus/usb/drivers/cdc_acm");

  std::string error;
  auto monitor = UdevMonitor::open(LiveRegistryFeed::subsystems(), &error);
  if (!monitor) {
    state.SkipWithError(error.c_str());
    return;
  }
  LiveRegistry registry;
  registry.build();
  registry.store()->setFeed(std::make_shared<LiveRegistryFeed>(std::move(monitor), registry));
  ScopedRegistry installed(registry.store());

  RegistryAccess access;
  RegistryOpen(access.receive());
  RegistryNotifierRef port = RegistryNotifierCreate(access.get());
  Arrived arrived;
  RegistryObject iterator;
  {
    ScopedRunLoopSource source(RunLoop::current(), RegistryNotifierSource(port));
    RegistryAddFirstMatch(port, "HwServiceFirstMatch", RegistryMatchClass("HwSerialBSDClient"), portsAppeared,
                          &arrived, iterator.receive());
    portsAppeared(&arrived, iterator.get());

    bench::Samples samples(state.max_iterations);
    int minor = 0;
    for (auto _ : state) {
      const std::string name = "ttyACM" + std::to_string(minor);
      const int expected = arrived.ports + 1;
      const auto start = std::chrono::steady_clock::now();
      const std::string tty = owned(umockdev_testbed_add_device(gTestbed, "tty", name.c_str(), interface.c_str(),
                                                                "dev", ("166:" + std::to_string(minor)).c_str(),
                                                                nullptr, nullptr));
      umockdev_testbed_set_attribute_link(gTestbed, tty.c_str(), "device", "..");
      const auto deadline = RunLoop::Clock::now() + std::chrono::seconds(10);
      while (arrived.ports < expected && RunLoop::current().runOnce(deadline)) {
      }
      const double ms = bench::millisecondsSince(start);
      if (arrived.ports != expected) {
        state.SkipWithError("an arrival did not reach the callback");
        break;
      }
      state.SetIterationTime(ms / 1e3);
      samples.add(ms);
      ++minor;
    }
    samples.report(state, "ms");
  }
  iterator.reset();
  RegistryNotifierDestroy(port);
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

// The registry snapshot loader, then the hardware probes over whatever it accepted: nothing
// in a snapshot may crash them, reach the release assertion or keep a handle.
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "platform/RegistrySnapshot.h"
#include "reporter/XRModemPlugin.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  xr::RegistrySnapshotLimits limits;
  limits.maxFileBytes = 1u << 20;
  auto snapshot = xr::parseRegistrySnapshot(text, "registry.json", limits);
  if (!snapshot.ok()) {
    if (snapshot.error.empty()) std::abort();  // a refusal always says why
    return 0;
  }
  auto previous = xr::RegistryStore::install(snapshot.registry);
  {
    auto plugin = std::make_shared<xr::XRModemPlugin>(std::make_shared<xr::Bundle>("/nonexistent"));
    plugin->queryI2CROMContents();
    plugin->queryI2SModem();
    plugin->getInternalSerialModemDriverName("vantik");
    plugin->getInternalSerialModemDriverName("chrp,es2");
  }
  auto left = snapshot.registry->outstanding();
  if (!(left == xr::RegistryOutstanding{})) {
    std::fprintf(stderr, "probes kept %s\n", xr::describe(left).c_str());
    std::abort();
  }
  xr::RegistryStore::install(previous);
  return 0;
}

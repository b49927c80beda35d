#include "serial/DeviceElsewhere.h"

#include "platform/RegistryStore.h"

namespace xr {

bool deviceIsElsewhere(const std::string& path) {
  const auto registry = RegistryStore::current();
  for (const char* key : {"HwCalloutDevice", "HwDialinDevice"}) {
    const Dictionary marked{
        {"class", Value("HwSerialBSDClient")}, {key, Value(path)}, {kDeviceElsewhereKey, Value(true)}};
    if (!registry->matchingEntries(marked).empty()) return true;
  }
  return false;
}

}  // namespace xr

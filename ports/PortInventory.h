#pragma once

#include <vector>

#include "platform/RegistryStore.h"
#include "ports/SerialPortRecord.h"

namespace xr {

// The machine's serial stream ports as the registry lists them, modems first, then by name.
// Reads only the shared registry vocabulary, so a profile's registry.json and the live
// machine's registry read the same.
class PortInventory {
 public:
  static std::vector<SerialPortRecord> harvest(const RegistryStore& registry);
};

}  // namespace xr

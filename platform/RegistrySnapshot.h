#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/RegistryStore.h"
#include "platform/Value.h"

namespace xr {

// A registry snapshot is the registry.json of a machine profile: an object with the keys
// "HwService" and "HwDeviceTree", each the root entry of its plane. An entry is an object
// with "name" and "class" (strings), optionally "properties" (object) and "children" (array
// of entries). Any other key is refused, so a misspelt one cannot silently drop data.
struct RegistrySnapshotResult {
  std::shared_ptr<RegistryStore> registry;  // null on failure
  std::string error;  // one line: file, entry path, fault
  bool ok() const { return registry != nullptr; }
};

// Bounds on what a snapshot may hold.
struct RegistrySnapshotLimits {
  size_t maxFileBytes = 32u * 1024 * 1024;
  size_t maxJsonDepth = 160;        // about 75 levels of entries
  size_t maxPropertyBytes = 65536;  // one text or byte string
};

RegistrySnapshotResult readRegistrySnapshot(const std::string& path, const RegistrySnapshotLimits& limits = {});
// From JSON text; name stands for the file in messages.
RegistrySnapshotResult parseRegistrySnapshot(std::string_view text, const std::string& name,
                                             const RegistrySnapshotLimits& limits = {});

// The other way: the registry as a snapshot value, which toJson turns into a registry.json
// that readRegistrySnapshot loads back to the same registry.
Value registrySnapshot(const RegistryStore& store);

}  // namespace xr

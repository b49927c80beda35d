#pragma once

// The handles the Registry functions give out. Internal to the registry's own sources.

#include <memory>
#include <mutex>
#include <vector>

#include "platform/Registry.h"
#include "platform/RegistryStore.h"

namespace xr::registry_internal {

// The entries an iterator still has to give. A first-match iterator keeps growing as
// matching entries arrive.
struct IteratorState {
  std::mutex mutex;
  std::vector<const RegistryEntry*> entries;
  size_t next = 0;
  bool drained = false;   // the holder has seen the end; a first-match notification is armed
  bool released = false;  // the handle was given back
};

struct HandleObject {
  enum class Kind { Access, Entry, Iterator };
  Kind kind = Kind::Access;
  std::shared_ptr<RegistryStore> store;
  const RegistryEntry* entry = nullptr;
  std::shared_ptr<IteratorState> iterator;
};

// Gives a new handle for the object and counts it against its store.
RegistryHandle addHandle(HandleObject object);
// false when no such handle is out.
bool findHandle(RegistryHandle handle, HandleObject* object);
// The store of an access handle; nullptr for anything else.
std::shared_ptr<RegistryStore> storeOfAccess(RegistryHandle access);

}  // namespace xr::registry_internal

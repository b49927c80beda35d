#include "platform/Registry.h"

#include <unordered_map>

#include "platform/RegistryHandleTable.h"

namespace xr {
namespace registry_internal {
namespace {

class HandleTable {
 public:
  RegistryHandle add(HandleObject object) {
    object.store->count(RegistryStore::Counter::Handles, 1);
    std::lock_guard lock(mutex_);
    // A handle still out is never given again; 0 is never given.
    do {
      ++next_;
    } while (next_ == 0 || objects_.count(next_));
    objects_.emplace(next_, std::move(object));
    return next_;
  }

  bool find(RegistryHandle handle, HandleObject* object) {
    std::lock_guard lock(mutex_);
    auto it = objects_.find(handle);
    if (it == objects_.end()) return false;
    *object = it->second;
    return true;
  }

  // Removes the handle when it is of one of the kinds and its store does not fail the
  // operation; the removed object, for its store.
  bool remove(RegistryHandle handle, std::initializer_list<HandleObject::Kind> kinds, RegistryOperation operation,
              HandleObject* removed, RegistryStatus* status) {
    std::lock_guard lock(mutex_);
    auto it = objects_.find(handle);
    bool kindOk = false;
    if (it != objects_.end()) {
      for (auto k : kinds) kindOk = kindOk || it->second.kind == k;
    }
    if (!kindOk) {
      *status = kRegistryBadArgument;
      return false;
    }
    if (!it->second.store->serves(operation)) {
      *status = kRegistryError;
      return false;
    }
    *removed = std::move(it->second);
    objects_.erase(it);
    *status = kRegistrySuccess;
    return true;
  }

 private:
  std::mutex mutex_;
  std::unordered_map<RegistryHandle, HandleObject> objects_;
  RegistryHandle next_ = 0x1000;
};

HandleTable& table() {
  static HandleTable t;
  return t;
}

}  // namespace

RegistryHandle addHandle(HandleObject object) { return table().add(std::move(object)); }
bool findHandle(RegistryHandle handle, HandleObject* object) { return table().find(handle, object); }

std::shared_ptr<RegistryStore> storeOfAccess(RegistryHandle access) {
  HandleObject object;
  if (!findHandle(access, &object) || object.kind != HandleObject::Kind::Access) return nullptr;
  return object.store;
}

}  // namespace registry_internal

const RegistryEntry* RegistryStore::entryOfHandle(RegistryHandle handle) {
  registry_internal::HandleObject object;
  if (!registry_internal::findHandle(handle, &object)) return nullptr;
  return object.entry;
}

using registry_internal::HandleObject;
using registry_internal::IteratorState;

namespace {

// What a property value or map handed out rides on: dropping it gives it back.
template <typename T>
struct Lent {
  T item;
  std::shared_ptr<RegistryStore> store;
  Lent(T i, std::shared_ptr<RegistryStore> s) : item(std::move(i)), store(std::move(s)) {
    store->count(RegistryStore::Counter::Values, 1);
  }
  ~Lent() { store->count(RegistryStore::Counter::Values, -1); }
  Lent(const Lent&) = delete;
  Lent& operator=(const Lent&) = delete;
};

bool findEntry(RegistryHandle handle, HandleObject* object) {
  return registry_internal::findHandle(handle, object) && object->kind == HandleObject::Kind::Entry;
}

RegistryHandle entryHandle(const std::shared_ptr<RegistryStore>& store, const RegistryEntry* entry) {
  HandleObject object;
  object.kind = HandleObject::Kind::Entry;
  object.store = store;
  object.entry = entry;
  return registry_internal::addHandle(std::move(object));
}

RegistryHandle iteratorHandle(const std::shared_ptr<RegistryStore>& store, std::vector<const RegistryEntry*> entries) {
  HandleObject object;
  object.kind = HandleObject::Kind::Iterator;
  object.store = store;
  object.iterator = std::make_shared<IteratorState>();
  object.iterator->entries = std::move(entries);
  return registry_internal::addHandle(std::move(object));
}

}  // namespace

RegistryStatus RegistryOpen(RegistryHandle* access) {
  if (!access) return kRegistryBadArgument;
  *access = 0;
  auto store = RegistryStore::current();
  if (!store->serves(RegistryOperation::Open)) return kRegistryError;
  HandleObject object;
  object.kind = HandleObject::Kind::Access;
  object.store = std::move(store);
  *access = registry_internal::addHandle(std::move(object));
  return kRegistrySuccess;
}

RegistryStatus RegistryClose(RegistryHandle access) {
  HandleObject removed;
  RegistryStatus status;
  if (registry_internal::table().remove(access, {HandleObject::Kind::Access}, RegistryOperation::Close, &removed, &status))
    removed.store->count(RegistryStore::Counter::Handles, -1);
  return status;
}

DictionaryRef RegistryMatchClass(const std::string& className) {
  if (className.empty()) return nullptr;
  return makeDictionary({{"class", className}});
}

RegistryStatus RegistryMatchingEntries(RegistryHandle access, DictionaryRef description, RegistryHandle* iterator) {
  if (!iterator) return kRegistryBadArgument;
  *iterator = 0;
  auto store = registry_internal::storeOfAccess(access);
  if (!store || !description) return kRegistryBadArgument;
  if (!store->serves(RegistryOperation::MatchingEntries)) return kRegistryError;
  *iterator = iteratorHandle(store, store->matchingEntries(*description));
  return kRegistrySuccess;
}

RegistryStatus RegistryPlaneIterator(RegistryHandle access, const std::string& plane, bool recursive,
                                     RegistryHandle* iterator) {
  if (!iterator) return kRegistryBadArgument;
  *iterator = 0;
  auto store = registry_internal::storeOfAccess(access);
  if (!store || !store->root(plane)) return kRegistryBadArgument;
  if (!store->serves(RegistryOperation::PlaneIterator)) return kRegistryError;
  *iterator = iteratorHandle(store, store->planeEntries(plane, recursive));
  return kRegistrySuccess;
}

RegistryHandle RegistryIteratorNext(RegistryHandle iterator) {
  HandleObject object;
  if (!registry_internal::findHandle(iterator, &object) || object.kind != HandleObject::Kind::Iterator) return 0;
  const RegistryEntry* entry = nullptr;
  {
    std::lock_guard lock(object.iterator->mutex);
    IteratorState& state = *object.iterator;
    if (state.next < state.entries.size()) {
      entry = state.entries[state.next++];
    } else {
      state.drained = true;
    }
  }
  return entry ? entryHandle(object.store, entry) : 0;
}

RegistryHandle RegistryEntryFromPath(RegistryHandle access, const std::string& path) {
  auto store = registry_internal::storeOfAccess(access);
  if (!store) return 0;
  const RegistryEntry* entry = store->entryAtPath(path);
  return entry ? entryHandle(store, entry) : 0;
}

RegistryStatus RegistryEntryChild(RegistryHandle entry, const std::string& plane, RegistryHandle* child) {
  if (!child) return kRegistryBadArgument;
  *child = 0;
  HandleObject object;
  if (!findEntry(entry, &object) || !object.store->root(plane)) return kRegistryBadArgument;
  const RegistryEntry* first = object.store->firstChild(object.entry, plane);
  if (!first) return kRegistryNotFound;
  *child = entryHandle(object.store, first);
  return kRegistrySuccess;
}

RegistryValue RegistryEntryProperty(RegistryHandle entry, const std::string& key) {
  HandleObject object;
  if (!findEntry(entry, &object)) return nullptr;
  Value value = object.store->property(object.entry, key);
  if (value.isNull()) return nullptr;
  auto lent = std::make_shared<Lent<Value>>(std::move(value), object.store);
  return RegistryValue(lent, &lent->item);
}

RegistryStatus RegistryEntryProperties(RegistryHandle entry, DictionaryRef* properties) {
  if (!properties) return kRegistryBadArgument;
  *properties = nullptr;
  HandleObject object;
  if (!findEntry(entry, &object)) return kRegistryBadArgument;
  if (!object.store->serves(RegistryOperation::EntryProperties)) return kRegistryError;
  auto lent = std::make_shared<Lent<Dictionary>>(object.store->properties(object.entry), object.store);
  *properties = DictionaryRef(lent, &lent->item);
  return kRegistrySuccess;
}

RegistryStatus RegistryRelease(RegistryHandle handle) {
  HandleObject removed;
  RegistryStatus status;
  if (!registry_internal::table().remove(handle, {HandleObject::Kind::Entry, HandleObject::Kind::Iterator},
                                         RegistryOperation::Release, &removed, &status))
    return status;
  if (removed.iterator) {
    std::lock_guard lock(removed.iterator->mutex);
    removed.iterator->released = true;
  }
  removed.store->count(RegistryStore::Counter::Handles, -1);
  return kRegistrySuccess;
}

RegistryStatus RegistryConnectionClose(RegistryHandle) {
  // This registry opens no connections, so there is never one to close.
  return kRegistryBadArgument;
}

}  // namespace xr

#include "platform/RegistryStore.h"

#include <algorithm>

namespace xr {
namespace {

// Values handed out must not share containers with the store: a caller changing its copy
// would otherwise change the registry under another thread.
Value deepCopy(const Value& v) {
  if (auto a = v.array()) {
    auto copy = std::make_shared<Array>();
    copy->reserve(a->size());
    for (const auto& e : *a) copy->push_back(deepCopy(e));
    return Value(std::move(copy));
  }
  if (auto d = v.dictionary()) {
    auto copy = std::make_shared<Dictionary>();
    for (const auto& [k, e] : *d) copy->set(k, deepCopy(e));
    return Value(std::move(copy));
  }
  return v;
}

std::mutex& currentMutex() {
  static std::mutex m;
  return m;
}
std::shared_ptr<RegistryStore>& currentStore() {
  static std::shared_ptr<RegistryStore> store;
  return store;
}

}  // namespace

RegistryEntry::RegistryEntry(std::string name, std::string className, DictionaryRef properties,
                             RegistryEntry* parent, const std::string* plane)
    : name_(std::move(name)),
      className_(std::move(className)),
      properties_(properties ? std::move(properties) : std::make_shared<Dictionary>()),
      parent_(parent),
      plane_(plane) {}

std::string describe(const RegistryOutstanding& o) {
  return "handles " + std::to_string(o.handles) + ", values " + std::to_string(o.values) + ", ports " +
         std::to_string(o.ports);
}

RegistryStore::RegistryStore()
    : serviceRoot_(std::make_unique<RegistryEntry>("Root", "HwRegistryEntry", nullptr, nullptr, &servicePlane_)),
      deviceTreeRoot_(
          std::make_unique<RegistryEntry>("Root", "HwRegistryEntry", nullptr, nullptr, &deviceTreePlane_)) {}

std::shared_ptr<RegistryStore> RegistryStore::create() { return std::make_shared<RegistryStore>(); }

std::shared_ptr<RegistryStore> RegistryStore::current() {
  std::lock_guard lock(currentMutex());
  auto& store = currentStore();
  if (!store) store = create();
  return store;
}

std::shared_ptr<RegistryStore> RegistryStore::install(std::shared_ptr<RegistryStore> store) {
  if (!store) store = create();
  std::lock_guard lock(currentMutex());
  auto previous = std::move(currentStore());
  currentStore() = std::move(store);
  return previous;
}

RegistryEntry* RegistryStore::root(std::string_view plane) const {
  if (plane == kServicePlane) return serviceRoot_.get();
  if (plane == kDeviceTreePlane) return deviceTreeRoot_.get();
  return nullptr;
}

RegistryEntry* RegistryStore::replaceRoot(std::string_view plane, std::string name, std::string className,
                                          DictionaryRef properties) {
  std::unique_ptr<RegistryEntry>* slot = plane == kServicePlane      ? &serviceRoot_
                                         : plane == kDeviceTreePlane ? &deviceTreeRoot_
                                                                     : nullptr;
  std::lock_guard lock(mutex_);
  if (!slot || !(*slot)->children_.empty()) return nullptr;
  const std::string* planeName = (*slot)->plane_;
  *slot = std::make_unique<RegistryEntry>(std::move(name), std::move(className), std::move(properties), nullptr,
                                          planeName);
  return slot->get();
}

RegistryEntry* RegistryStore::addEntry(RegistryEntry* parent, std::string name, std::string className,
                                       DictionaryRef properties) {
  if (!parent) return nullptr;
  std::vector<std::shared_ptr<RegistryWatcher>> told;
  RegistryEntry* added;
  {
    std::lock_guard lock(mutex_);
    parent->children_.push_back(std::make_unique<RegistryEntry>(std::move(name), std::move(className),
                                                                std::move(properties), parent, parent->plane_));
    added = parent->children_.back().get();
    ++entryCount_;
    if (added->plane_ == &servicePlane_ && !watchers_.empty()) {
      std::erase_if(watchers_, [](const auto& w) { return w.expired(); });
      for (const auto& w : watchers_) {
        auto watcher = w.lock();
        if (watcher && watcher->wants(*added, *added->properties_)) told.push_back(std::move(watcher));
      }
    }
  }
  for (const auto& watcher : told) watcher->entryAdded(added);
  return added;
}

RegistryEntry* RegistryStore::addEntry(std::string_view parentPath, std::string name, std::string className,
                                       DictionaryRef properties) {
  RegistryEntry* parent;
  {
    std::lock_guard lock(mutex_);
    parent = entryAtPathLocked(parentPath);
  }
  return addEntry(parent, std::move(name), std::move(className), std::move(properties));
}

bool RegistryStore::removeEntry(const RegistryEntry* entry) {
  if (!entry || !entry->parent_) return false;
  std::vector<std::shared_ptr<RegistryWatcher>> told;
  {
    std::lock_guard lock(mutex_);
    // In its plane only while every entry up to the root is among its parent's children.
    auto slotIn = [](const RegistryEntry* e) {
      auto& siblings = e->parent_->children_;
      return std::find_if(siblings.begin(), siblings.end(), [e](const auto& c) { return c.get() == e; });
    };
    const RegistryEntry* top = entry;
    for (; top->parent_; top = top->parent_) {
      if (slotIn(top) == top->parent_->children_.end()) return false;
    }
    if (top != serviceRoot_.get() && top != deviceTreeRoot_.get()) return false;
    std::vector<const RegistryEntry*> below;
    collect(entry, true, &below);
    entryCount_ -= below.size() + 1;
    auto slot = slotIn(entry);
    removed_.push_back(std::move(*slot));
    entry->parent_->children_.erase(slot);
    if (entry->plane_ == &servicePlane_) {
      std::erase_if(watchers_, [](const auto& w) { return w.expired(); });
      for (const auto& w : watchers_) {
        if (auto watcher = w.lock()) told.push_back(std::move(watcher));
      }
    }
  }
  for (const auto& watcher : told) watcher->entryRemoved(entry);
  return true;
}

size_t RegistryStore::freeRemovedEntries() {
  std::vector<std::unique_ptr<RegistryEntry>> freed;
  std::lock_guard lock(mutex_);
  if (handles_.load() == 0) freed.swap(removed_);
  return removed_.size();
}

void RegistryStore::setProperty(const RegistryEntry* entry, const std::string& key, Value value) {
  if (!entry) return;
  std::lock_guard lock(mutex_);
  entry->properties_->set(key, std::move(value));
}

const RegistryEntry* RegistryStore::findEntry(std::string_view plane, const std::string& key,
                                              const Value& value) const {
  for (const RegistryEntry* e : planeEntries(plane, true)) {
    std::lock_guard lock(mutex_);
    const Value* v = e->properties_->find(key);
    if (v && *v == value) return e;
  }
  return nullptr;
}

const RegistryEntry* RegistryStore::entryAtPath(std::string_view path) const {
  std::lock_guard lock(mutex_);
  return entryAtPathLocked(path);
}

RegistryEntry* RegistryStore::entryAtPathLocked(std::string_view path) const {
  auto colon = path.find(':');
  if (colon == std::string_view::npos) return nullptr;
  std::string_view plane = path.substr(0, colon);
  RegistryEntry* entry = root(plane);
  std::string_view rest = path.substr(colon + 1);
  while (entry && !rest.empty()) {
    auto slash = rest.find('/');
    std::string_view component = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    if (component.empty()) continue;
    RegistryEntry* next = nullptr;
    for (const auto& child : entry->children_) {
      if (child->name_ == component) {
        next = child.get();
        break;
      }
    }
    // Device-tree nodes are named "name@unit"; as device-tree tools do, a component without
    // a unit matches the first child of that name whatever its unit.
    if (!next && plane == kDeviceTreePlane && component.find('@') == std::string_view::npos) {
      for (const auto& child : entry->children_) {
        std::string_view name = child->name_;
        if (name.size() > component.size() && name.starts_with(component) && name[component.size()] == '@') {
          next = child.get();
          break;
        }
      }
    }
    entry = next;
  }
  return entry;
}

void RegistryStore::collect(const RegistryEntry* entry, bool recursive, std::vector<const RegistryEntry*>* out) {
  if (!recursive) {
    for (const auto& child : entry->children_) out->push_back(child.get());
    return;
  }
  // Explicit stack: a deep chain built in code must not exhaust the thread's stack.
  std::vector<std::pair<const RegistryEntry*, size_t>> stack{{entry, 0}};
  while (!stack.empty()) {
    auto& [parent, next] = stack.back();
    if (next == parent->children_.size()) {
      stack.pop_back();
      continue;
    }
    const RegistryEntry* child = parent->children_[next++].get();
    out->push_back(child);
    if (!child->children_.empty()) stack.emplace_back(child, 0);
  }
}

std::vector<const RegistryEntry*> RegistryStore::planeEntries(std::string_view plane, bool recursive) const {
  std::vector<const RegistryEntry*> out;
  const RegistryEntry* top = root(plane);
  if (!top) return out;
  std::lock_guard lock(mutex_);
  out.reserve(recursive ? entryCount_ : top->children_.size());
  collect(top, recursive, &out);
  return out;
}

bool RegistryStore::matches(const RegistryEntry& entry, const Dictionary& properties, const Dictionary& description) {
  const std::string* className = nullptr;
  for (const auto& [key, value] : description) {
    if (key == "class") {
      className = value.string();
      if (!className || *className != entry.className()) return false;
      continue;
    }
    const Value* mine = properties.find(key);
    if (!mine || !(*mine == value)) return false;
  }
  return className != nullptr;
}

std::vector<const RegistryEntry*> RegistryStore::matchingEntries(const Dictionary& description) const {
  std::lock_guard lock(mutex_);
  return matchingEntriesLocked(description);
}

std::vector<const RegistryEntry*> RegistryStore::matchingEntriesLocked(const Dictionary& description) const {
  std::vector<const RegistryEntry*> out;
  std::vector<const RegistryEntry*> all;
  all.reserve(entryCount_);
  collect(serviceRoot_.get(), true, &all);
  for (const RegistryEntry* e : all) {
    if (matches(*e, *e->properties_, description)) out.push_back(e);
  }
  return out;
}

const RegistryEntry* RegistryStore::firstChild(const RegistryEntry* entry, std::string_view plane) const {
  if (!entry || entry->plane() != plane) return nullptr;
  std::lock_guard lock(mutex_);
  return entry->children_.empty() ? nullptr : entry->children_.front().get();
}

Value RegistryStore::property(const RegistryEntry* entry, std::string_view key) const {
  if (!entry) return Value();
  std::lock_guard lock(mutex_);
  const Value* v = entry->properties_->find(key);
  return v ? deepCopy(*v) : Value();
}

Dictionary RegistryStore::properties(const RegistryEntry* entry) const {
  Dictionary out;
  if (!entry) return out;
  std::lock_guard lock(mutex_);
  for (const auto& [k, v] : *entry->properties_) out.set(k, deepCopy(v));
  return out;
}

void RegistryStore::setFeed(std::shared_ptr<RegistryFeed> feed) {
  std::lock_guard lock(mutex_);
  feed_ = std::move(feed);
}

std::shared_ptr<RegistryFeed> RegistryStore::feed() const {
  std::lock_guard lock(mutex_);
  return feed_;
}

void RegistryStore::pump() {
  if (auto f = feed()) f->pump(*this);
}

size_t RegistryStore::entryCount() const {
  std::lock_guard lock(mutex_);
  return entryCount_;
}

std::vector<const RegistryEntry*> RegistryStore::watch(const std::shared_ptr<RegistryWatcher>& watcher,
                                                       const Dictionary& description) {
  std::lock_guard lock(mutex_);
  std::erase_if(watchers_, [](const auto& w) { return w.expired(); });
  watchers_.push_back(watcher);
  return matchingEntriesLocked(description);
}

RegistryOutstanding RegistryStore::outstanding() const {
  return RegistryOutstanding{handles_.load(), values_.load(), ports_.load()};
}

void RegistryStore::count(Counter counter, int64_t delta) {
  switch (counter) {
    case Counter::Handles: handles_ += delta; break;
    case Counter::Values: values_ += delta; break;
    case Counter::Ports: ports_ += delta; break;
  }
}

}  // namespace xr

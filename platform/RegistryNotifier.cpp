// Notification ports and first-match notifications of the device registry.
#include <algorithm>
#include <unordered_map>

#include "platform/Registry.h"
#include "platform/RegistryHandleTable.h"
#include "platform/RunLoop.h"

namespace xr {
namespace {

using registry_internal::HandleObject;
using registry_internal::IteratorState;

const char* const kFirstMatch = "HwServiceFirstMatch";

// One armed first-match notification. Its iterator keeps the entries that arrived; the
// callback runs when the holder has drained the iterator and something new came.
class FirstMatch : public RegistryWatcher {
 public:
  FirstMatch(Dictionary description, RegistryMatchCallback callback, void* context,
             std::weak_ptr<RunLoopSource> source)
      : description_(std::move(description)),
        callback_(callback),
        context_(context),
        source_(std::move(source)),
        iterator_(std::make_shared<IteratorState>()) {}

  bool wants(const RegistryEntry& entry, const Dictionary& properties) const override {
    return RegistryStore::matches(entry, properties, description_);
  }

  void entryAdded(const RegistryEntry* entry) override {
    bool armed;
    {
      std::lock_guard lock(iterator_->mutex);
      if (iterator_->released) return;
      iterator_->entries.push_back(entry);
      armed = iterator_->drained;
    }
    if (armed) {
      if (auto source = source_.lock()) source->signal();
    }
  }

  // True, disarming it, when the callback is due.
  bool takeDue() {
    std::lock_guard lock(iterator_->mutex);
    if (iterator_->released || !iterator_->drained || iterator_->next == iterator_->entries.size()) return false;
    iterator_->drained = false;
    return true;
  }
  bool released() {
    std::lock_guard lock(iterator_->mutex);
    return iterator_->released;
  }
  void call() { callback_(context_, handle); }

  const std::shared_ptr<IteratorState>& iterator() const { return iterator_; }
  RegistryHandle handle = 0;

 private:
  const Dictionary description_;
  const RegistryMatchCallback callback_;
  void* const context_;
  const std::weak_ptr<RunLoopSource> source_;
  const std::shared_ptr<IteratorState> iterator_;
};

}  // namespace

class RegistryNotifier {
 public:
  explicit RegistryNotifier(std::shared_ptr<RegistryStore> store) : store_(std::move(store)) {
    store_->count(RegistryStore::Counter::Ports, 1);
  }
  ~RegistryNotifier() { store_->count(RegistryStore::Counter::Ports, -1); }
  RegistryNotifier(const RegistryNotifier&) = delete;
  RegistryNotifier& operator=(const RegistryNotifier&) = delete;

  void setSource(std::shared_ptr<RunLoopSource> source) { source_ = std::move(source); }
  const std::shared_ptr<RunLoopSource>& source() const { return source_; }
  const std::shared_ptr<RegistryStore>& store() const { return store_; }

  void add(std::shared_ptr<FirstMatch> match) {
    std::lock_guard lock(mutex_);
    matches_.push_back(std::move(match));
  }

  // The source's work, on the thread whose run loop performs it.
  void deliver() {
    std::vector<std::shared_ptr<FirstMatch>> due;
    {
      std::lock_guard lock(mutex_);
      std::erase_if(matches_, [](const auto& m) { return m->released(); });
      for (const auto& m : matches_) {
        if (m->takeDue()) due.push_back(m);
      }
    }
    for (const auto& m : due) {
      // A callback may end the notification or the whole port; nothing is called after that.
      if (ended() || m->released()) break;
      m->call();
    }
  }

  void end() {
    {
      std::lock_guard lock(mutex_);
      ended_ = true;
      matches_.clear();
    }
    source_->invalidate();
  }

 private:
  bool ended() {
    std::lock_guard lock(mutex_);
    return ended_;
  }

  const std::shared_ptr<RegistryStore> store_;
  std::shared_ptr<RunLoopSource> source_;
  std::mutex mutex_;
  std::vector<std::shared_ptr<FirstMatch>> matches_;
  bool ended_ = false;
};

namespace {

// The ports that exist; a port is the key of its own entry.
class PortTable {
 public:
  void add(std::shared_ptr<RegistryNotifier> port) {
    std::lock_guard lock(mutex_);
    RegistryNotifier* key = port.get();
    ports_.emplace(key, std::move(port));
  }
  std::shared_ptr<RegistryNotifier> find(RegistryNotifierRef port) {
    std::lock_guard lock(mutex_);
    auto it = ports_.find(port);
    return it == ports_.end() ? nullptr : it->second;
  }
  std::shared_ptr<RegistryNotifier> remove(RegistryNotifierRef port) {
    std::lock_guard lock(mutex_);
    auto it = ports_.find(port);
    if (it == ports_.end()) return nullptr;
    auto removed = std::move(it->second);
    ports_.erase(it);
    return removed;
  }

 private:
  std::mutex mutex_;
  std::unordered_map<RegistryNotifier*, std::shared_ptr<RegistryNotifier>> ports_;
};

PortTable& ports() {
  static PortTable table;
  return table;
}

}  // namespace

RegistryNotifierRef RegistryNotifierCreate(RegistryHandle access) {
  auto store = registry_internal::storeOfAccess(access);
  if (!store || !store->serves(RegistryOperation::NotifierCreate)) return nullptr;
  auto port = std::make_shared<RegistryNotifier>(store);
  std::weak_ptr<RegistryNotifier> weak = port;
  // On the live machine the port waits on the feed's descriptor: what the feed adds is
  // delivered in the same turn.
  auto feed = store->feed();
  port->setSource(std::make_shared<RunLoopSource>(feed ? feed->descriptor() : -1, [weak] {
    if (auto p = weak.lock()) {
      p->store()->pump();
      p->deliver();
    }
  }));
  RegistryNotifierRef ref = port.get();
  ports().add(std::move(port));
  return ref;
}

std::shared_ptr<RunLoopSource> RegistryNotifierSource(RegistryNotifierRef port) {
  auto p = ports().find(port);
  return p ? p->source() : nullptr;
}

void RegistryNotifierDestroy(RegistryNotifierRef port) {
  if (auto p = ports().remove(port)) p->end();
}

RegistryStatus RegistryAddFirstMatch(RegistryNotifierRef port, const std::string& type, DictionaryRef description,
                                     RegistryMatchCallback callback, void* context, RegistryHandle* iterator) {
  if (!iterator) return kRegistryBadArgument;
  *iterator = 0;
  auto p = ports().find(port);
  if (!p || type != kFirstMatch || !description || !callback) return kRegistryBadArgument;
  auto match = std::make_shared<FirstMatch>(*description, callback, context, p->source());
  auto present = p->store()->watch(match, *description);
  {
    std::lock_guard lock(match->iterator()->mutex);
    // Entries told to the watcher since watch() returned come after the ones present then.
    auto& entries = match->iterator()->entries;
    entries.insert(entries.begin(), present.begin(), present.end());
  }
  HandleObject object;
  object.kind = HandleObject::Kind::Iterator;
  object.store = p->store();
  object.iterator = match->iterator();
  match->handle = *iterator = registry_internal::addHandle(std::move(object));
  p->add(std::move(match));
  return kRegistrySuccess;
}

}  // namespace xr

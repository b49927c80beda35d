#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Registry.h"
#include "platform/Value.h"

namespace xr {

class RegistryStore;

// One entry of a plane. Name and class never change; properties and children are reached
// through the store, which guards them.
class RegistryEntry {
 public:
  const std::string& name() const { return name_; }
  const std::string& className() const { return className_; }
  const RegistryEntry* parent() const { return parent_; }
  const std::string& plane() const { return *plane_; }

  RegistryEntry(std::string name, std::string className, DictionaryRef properties, RegistryEntry* parent,
                const std::string* plane);
  RegistryEntry(const RegistryEntry&) = delete;
  RegistryEntry& operator=(const RegistryEntry&) = delete;

 private:
  friend class RegistryStore;
  std::string name_;
  std::string className_;
  DictionaryRef properties_;  // never null
  std::vector<std::unique_ptr<RegistryEntry>> children_;
  RegistryEntry* parent_;
  const std::string* plane_;
};

// What the registry has handed out and not yet been given back.
struct RegistryOutstanding {
  int64_t handles = 0;  // access handles, entries and iterators
  int64_t values = 0;   // property values and property maps
  int64_t ports = 0;    // notification ports
  friend bool operator==(const RegistryOutstanding&, const RegistryOutstanding&) = default;
};
std::string describe(const RegistryOutstanding& o);

// The registry operations a store may decline, as the platform's registry does when its
// service is unavailable or an entry goes away during the call.
enum class RegistryOperation { Open, Close, PlaneIterator, MatchingEntries, EntryProperties, NotifierCreate, Release };

// Told about every entry added to the HwService plane after it registered.
class RegistryWatcher {
 public:
  virtual ~RegistryWatcher() = default;
  // Called without the store's lock held.
  virtual void entryAdded(const RegistryEntry* entry) = 0;
  // An entry of the HwService plane taken out with everything below it (a device unplugged);
  // called without the store's lock held, for the top of what was taken out only.
  virtual void entryRemoved(const RegistryEntry*) {}
  // Whether the watcher wants to hear about the entry; called with the lock held.
  virtual bool wants(const RegistryEntry& entry, const Dictionary& properties) const = 0;
};

// Brings the machine's changes into a store (the live machine's device monitor). Its
// descriptor turns readable when there is news; the notification ports wait on it in their
// run-loop source and pump it there, so arrivals and removals are made on the thread whose
// loop runs.
class RegistryFeed {
 public:
  virtual ~RegistryFeed() = default;
  virtual int descriptor() const = 0;
  // Reads all the news there is, without blocking, and adds what arrived to store. May be
  // called from several threads' loops: it guards itself.
  virtual void pump(RegistryStore& store) = 0;
};

// The in-memory registry: two planes, "HwService" and "HwDeviceTree", each a tree under its
// root entry. An entry taken out of its plane is no longer found, walked or matched, but is
// kept until freeRemovedEntries, so entry pointers and the handles out for them stay valid.
// Safe to use from several threads.
class RegistryStore : public std::enable_shared_from_this<RegistryStore> {
 public:
  static constexpr std::string_view kServicePlane = "HwService";
  static constexpr std::string_view kDeviceTreePlane = "HwDeviceTree";

  // A store whose planes hold a bare root entry each.
  static std::shared_ptr<RegistryStore> create();

  // The registry RegistryOpen uses. Never null: an empty store until one is installed.
  static std::shared_ptr<RegistryStore> current();
  // Installs store (null: a new empty one) and gives back the one it replaces.
  static std::shared_ptr<RegistryStore> install(std::shared_ptr<RegistryStore> store);

  // ---- building ----
  // nullptr for a plane name other than the two.
  RegistryEntry* root(std::string_view plane) const;
  // Gives the plane's root a name, class and properties; only while it has no children.
  RegistryEntry* replaceRoot(std::string_view plane, std::string name, std::string className,
                             DictionaryRef properties);
  // Adds a last child; an entry added to HwService fires the first-match notifications that
  // want it. properties may be null (none).
  RegistryEntry* addEntry(RegistryEntry* parent, std::string name, std::string className,
                          DictionaryRef properties = nullptr);
  // The same under the entry at path ("HwService:usb/hub"); nullptr when there is none.
  RegistryEntry* addEntry(std::string_view parentPath, std::string name, std::string className,
                          DictionaryRef properties = nullptr);
  // Takes the entry and everything below it out of its plane (a device gone) and tells the
  // watchers. False for a plane's root or an entry already out.
  bool removeEntry(const RegistryEntry* entry);
  // Frees the entries removeEntry took out, unless a handle is out (it may be for one of
  // them). Only where no other thread can hold an entry pointer: between two reports of a
  // watch, which would otherwise keep every device ever unplugged. Gives how many are kept.
  size_t freeRemovedEntries();
  void setProperty(const RegistryEntry* entry, const std::string& key, Value value);
  // The first entry of the plane, in pre-order from its root, whose property key equals value.
  const RegistryEntry* findEntry(std::string_view plane, const std::string& key, const Value& value) const;

  // ---- reading (what the Registry functions build on) ----
  // "Plane:a/b/c": child names from the plane's root, the first child of a name winning. In
  // HwDeviceTree a name without "@unit" also matches the first "name@unit" child.
  const RegistryEntry* entryAtPath(std::string_view path) const;
  // Every entry below the plane's root in depth-first pre-order, or only the root's children.
  std::vector<const RegistryEntry*> planeEntries(std::string_view plane, bool recursive) const;
  // HwService entries, in the same order, whose class is description's "class" and whose
  // properties equal every other key of description.
  std::vector<const RegistryEntry*> matchingEntries(const Dictionary& description) const;
  static bool matches(const RegistryEntry& entry, const Dictionary& properties, const Dictionary& description);
  const RegistryEntry* firstChild(const RegistryEntry* entry, std::string_view plane) const;
  // A deep copy of the property, null when absent.
  Value property(const RegistryEntry* entry, std::string_view key) const;
  // A deep copy of every property.
  Dictionary properties(const RegistryEntry* entry) const;
  size_t entryCount() const;

  // The entry behind an entry handle that is still out; nullptr otherwise (tests).
  static const RegistryEntry* entryOfHandle(RegistryHandle handle);

  // ---- notifications ----
  // Registers the watcher (held weakly) and gives the entries matching description now, at
  // once: an entry is either among those or told to the watcher, never both or neither.
  std::vector<const RegistryEntry*> watch(const std::shared_ptr<RegistryWatcher>& watcher,
                                          const Dictionary& description);

  // The feed that keeps the store current (the live machine); none for a profile.
  void setFeed(std::shared_ptr<RegistryFeed> feed);
  std::shared_ptr<RegistryFeed> feed() const;
  // Pumps the feed, if there is one.
  void pump();

  // ---- accounting ----
  RegistryOutstanding outstanding() const;
  enum class Counter { Handles, Values, Ports };
  void count(Counter counter, int64_t delta);

  // Whether the store serves the operation now; the Registry functions answer kRegistryError
  // when it does not. The in-memory store always does; a store over a system that can fail
  // (or a test's, tests/support/RegistryTesting.h) overrides this.
  virtual bool serves(RegistryOperation) const { return true; }

  RegistryStore();
  virtual ~RegistryStore() = default;
  RegistryStore(const RegistryStore&) = delete;
  RegistryStore& operator=(const RegistryStore&) = delete;

 private:
  RegistryEntry* entryAtPathLocked(std::string_view path) const;
  std::vector<const RegistryEntry*> matchingEntriesLocked(const Dictionary& description) const;
  static void collect(const RegistryEntry* entry, bool recursive, std::vector<const RegistryEntry*>* out);

  mutable std::mutex mutex_;
  const std::string servicePlane_{kServicePlane};
  const std::string deviceTreePlane_{kDeviceTreePlane};
  std::unique_ptr<RegistryEntry> serviceRoot_;
  std::unique_ptr<RegistryEntry> deviceTreeRoot_;
  size_t entryCount_ = 2;  // in the planes
  std::vector<std::unique_ptr<RegistryEntry>> removed_;  // out of their planes, not yet freed
  std::vector<std::weak_ptr<RegistryWatcher>> watchers_;
  std::shared_ptr<RegistryFeed> feed_;
  std::atomic<int64_t> handles_{0};
  std::atomic<int64_t> values_{0};
  std::atomic<int64_t> ports_{0};
};

// Installs a registry for one scope (tests) and puts the previous one back.
class ScopedRegistry {
 public:
  explicit ScopedRegistry(std::shared_ptr<RegistryStore> store) : saved_(RegistryStore::install(std::move(store))) {}
  ~ScopedRegistry() { RegistryStore::install(std::move(saved_)); }
  ScopedRegistry(const ScopedRegistry&) = delete;
  ScopedRegistry& operator=(const ScopedRegistry&) = delete;

 private:
  std::shared_ptr<RegistryStore> saved_;
};

}  // namespace xr

#include "platform/RegistrySnapshot.h"

#include <cstdint>
#include <unordered_map>

#include "platform/Json.h"

namespace xr {
namespace {

const char* const kEntryKeys[] = {"name", "class", "properties", "children"};

class SnapshotLoader {
 public:
  SnapshotLoader(std::shared_ptr<RegistryStore> store, const RegistrySnapshotLimits& limits)
      : store_(std::move(store)), limits_(limits) {}

  // Fills the plane from its root entry; false with error() set on the first fault.
  bool loadPlane(std::string_view plane, const Value& root) {
    std::string path(plane);
    Fields f;
    if (!readFields(root, path, kRoot, &f)) return false;
    RegistryEntry* entry = store_->replaceRoot(plane, *f.name, *f.className, f.properties);
    return loadChildren(entry, path, f.children);
  }

  const std::string& error() const { return error_; }

 private:
  static constexpr size_t kRoot = SIZE_MAX;

  struct Fields {
    const std::string* name = nullptr;
    const std::string* className = nullptr;
    DictionaryRef properties;
    ArrayRef children;
  };

  // An entry is named by its parent's path of names and its place among the children, since
  // its own name may be the fault. Built only for a message: most snapshots have none.
  bool fail(const std::string& parentPath, size_t index, const std::string& message) {
    error_ = index == kRoot ? parentPath : parentPath + "/children[" + std::to_string(index) + "]";
    error_ += ": " + message;
    return false;
  }

  bool readFields(const Value& value, const std::string& parent, size_t index, Fields* f) {
    DictionaryRef entry = value.dictionary();
    if (!entry) return fail(parent, index, std::string("an entry must be an object, not ") + typeName(value.type()));
    for (const auto& [key, v] : *entry) {
      bool known = false;
      for (const char* k : kEntryKeys) known = known || key == k;
      if (!known) return fail(parent, index, "unknown key \"" + key + "\"");
    }
    const Value* name = entry->find("name");
    if (!name) return fail(parent, index, "\"name\" is missing");
    if (!(f->name = name->string())) return fail(parent, index, "\"name\" must be a string");
    if (f->name->find('/') != std::string::npos) return fail(parent, index, "\"name\" must not contain \"/\"");
    const Value* className = entry->find("class");
    if (!className) return fail(parent, index, "\"class\" is missing");
    if (!(f->className = className->string())) return fail(parent, index, "\"class\" must be a string");
    if (const Value* properties = entry->find("properties")) {
      if (!(f->properties = properties->dictionary())) return fail(parent, index, "\"properties\" must be an object");
      for (const auto& [key, v] : *f->properties) {
        std::string fault = propertyFault(v);
        if (!fault.empty()) return fail(parent, index, "property \"" + key + "\"" + fault);
      }
    }
    if (const Value* children = entry->find("children")) {
      if (!(f->children = children->array())) return fail(parent, index, "\"children\" must be an array");
    }
    return true;
  }

  // What is wrong with a property value, as the rest of a message about it; empty when fine.
  std::string propertyFault(const Value& v) const {
    auto tooLong = [&](const char* kind, size_t size) {
      return size <= limits_.maxPropertyBytes ? std::string()
                                              : std::string(" is ") + kind + " of " + std::to_string(size) +
                                                    " bytes, more than " + std::to_string(limits_.maxPropertyBytes);
    };
    switch (v.type()) {
      case Value::Type::Null: return " is null";
      case Value::Type::String: return tooLong("a text", v.string()->size());
      case Value::Type::Data: return tooLong("a byte string", v.data()->length());
      case Value::Type::Array: {
        size_t i = 0;
        for (const auto& e : *v.array()) {
          // Appended, not "[" + ...: g++ 12 at -O3 sees an overlapping copy in operator+(const char*, string&&).
          if (std::string fault = propertyFault(e); !fault.empty()) {
            std::string where = "[";
            where += std::to_string(i);
            where += ']';
            return where + fault;
          }
          ++i;
        }
        return "";
      }
      case Value::Type::Dictionary:
        for (const auto& [k, e] : *v.dictionary()) {
          if (std::string fault = propertyFault(e); !fault.empty()) return "." + k + fault;
        }
        return "";
      default: return "";
    }
  }

  // path names the parent by the names from its plane's root ("HwService/zel-io").
  bool loadChildren(RegistryEntry* parent, const std::string& path, const ArrayRef& children) {
    if (!children) return true;
    size_t i = 0;
    for (const auto& child : *children) {
      Fields f;
      if (!readFields(child, path, i++, &f)) return false;
      RegistryEntry* entry = store_->addEntry(parent, *f.name, *f.className, f.properties);
      if (f.children && !f.children->empty() && !loadChildren(entry, path + "/" + *f.name, f.children)) return false;
    }
    return true;
  }

  std::shared_ptr<RegistryStore> store_;
  const RegistrySnapshotLimits& limits_;
  std::string error_;
};

RegistrySnapshotResult fromValue(const Value& snapshot, const std::string& name, const RegistrySnapshotLimits& limits) {
  RegistrySnapshotResult result;
  DictionaryRef planes = snapshot.dictionary();
  if (!planes) {
    result.error = name + ": must be an object with the keys \"HwService\" and \"HwDeviceTree\"";
    return result;
  }
  for (const auto& [key, v] : *planes) {
    if (key != RegistryStore::kServicePlane && key != RegistryStore::kDeviceTreePlane) {
      result.error = name + ": unknown plane \"" + key + "\"";
      return result;
    }
  }
  auto store = RegistryStore::create();
  SnapshotLoader loader(store, limits);
  for (std::string_view plane : {RegistryStore::kServicePlane, RegistryStore::kDeviceTreePlane}) {
    const Value* root = planes->find(plane);
    if (!root) {
      result.error = name + ": the plane \"" + std::string(plane) + "\" is missing";
      return result;
    }
    if (!loader.loadPlane(plane, *root)) {
      result.error = name + ": " + loader.error();
      return result;
    }
  }
  result.registry = std::move(store);
  return result;
}

JsonLimits jsonLimits(const RegistrySnapshotLimits& limits) { return JsonLimits{limits.maxJsonDepth, limits.maxFileBytes}; }

}  // namespace

RegistrySnapshotResult readRegistrySnapshot(const std::string& path, const RegistrySnapshotLimits& limits) {
  JsonResult json = readJsonFile(path, jsonLimits(limits));
  if (!json.ok()) return RegistrySnapshotResult{nullptr, json.error};
  return fromValue(json.value, path, limits);
}

RegistrySnapshotResult parseRegistrySnapshot(std::string_view text, const std::string& name,
                                             const RegistrySnapshotLimits& limits) {
  JsonResult json = parseJson(text, jsonLimits(limits));
  if (!json.ok()) return RegistrySnapshotResult{nullptr, name + ": " + json.error};
  return fromValue(json.value, name, limits);
}

}  // namespace xr

namespace xr {

Value registrySnapshot(const RegistryStore& store) {
  auto planes = makeDictionary();
  for (std::string_view plane : {RegistryStore::kServicePlane, RegistryStore::kDeviceTreePlane}) {
    // Pre-order with parents known: each entry joins its parent's children as it comes.
    std::unordered_map<const RegistryEntry*, ArrayRef> children;
    auto object = [&](const RegistryEntry* entry) {
      // Filled by set(): g++ 12 misreads an initializer list of values as uninitialised here.
      auto out = makeDictionary();
      out->set("name", entry->name());
      out->set("class", entry->className());
      Dictionary properties = store.properties(entry);
      if (!properties.empty()) out->set("properties", std::make_shared<Dictionary>(std::move(properties)));
      return out;
    };
    const RegistryEntry* root = store.root(plane);
    DictionaryRef rootObject = object(root);
    auto attach = [&](const RegistryEntry* parent, DictionaryRef child, const RegistryEntry* entry) {
      ArrayRef& list = children[parent];
      if (!list) list = makeArray();
      list->emplace_back(std::move(child));
      children.emplace(entry, nullptr);
    };
    std::unordered_map<const RegistryEntry*, DictionaryRef> objects{{root, rootObject}};
    for (const RegistryEntry* entry : store.planeEntries(plane, true)) {
      DictionaryRef o = object(entry);
      objects[entry] = o;
      attach(entry->parent(), o, entry);
    }
    for (auto& [entry, list] : children) {
      if (list) objects[entry]->set("children", list);
    }
    planes->set(std::string(plane), rootObject);
  }
  return Value(planes);
}

}  // namespace xr

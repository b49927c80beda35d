#include "platform/RegistrySnapshot.h"

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
    std::string where(plane);
    Fields f;
    if (!readFields(root, where, &f)) return false;
    RegistryEntry* entry = store_->replaceRoot(plane, *f.name, *f.className, f.properties);
    return loadChildren(entry, where, f.children);
  }

  const std::string& error() const { return error_; }

 private:
  struct Fields {
    const std::string* name = nullptr;
    const std::string* className = nullptr;
    DictionaryRef properties;
    ArrayRef children;
  };

  bool fail(const std::string& where, const std::string& message) {
    error_ = where + ": " + message;
    return false;
  }

  bool readFields(const Value& value, const std::string& where, Fields* f) {
    DictionaryRef entry = value.dictionary();
    if (!entry) return fail(where, std::string("an entry must be an object, not ") + typeName(value.type()));
    for (const auto& [key, v] : *entry) {
      bool known = false;
      for (const char* k : kEntryKeys) known = known || key == k;
      if (!known) return fail(where, "unknown key \"" + key + "\"");
    }
    const Value* name = entry->find("name");
    if (!name) return fail(where, "\"name\" is missing");
    if (!(f->name = name->string())) return fail(where, "\"name\" must be a string");
    if (f->name->find('/') != std::string::npos) return fail(where, "\"name\" must not contain \"/\"");
    const Value* className = entry->find("class");
    if (!className) return fail(where, "\"class\" is missing");
    if (!(f->className = className->string())) return fail(where, "\"class\" must be a string");
    if (const Value* properties = entry->find("properties")) {
      if (!(f->properties = properties->dictionary())) return fail(where, "\"properties\" must be an object");
      for (const auto& [key, v] : *f->properties) {
        if (!checkProperty(v, where, "property \"" + key + "\"")) return false;
      }
    }
    if (const Value* children = entry->find("children")) {
      if (!(f->children = children->array())) return fail(where, "\"children\" must be an array");
    }
    return true;
  }

  bool checkProperty(const Value& v, const std::string& where, const std::string& what) {
    switch (v.type()) {
      case Value::Type::Null: return fail(where, what + " is null");
      case Value::Type::String:
        if (v.string()->size() > limits_.maxPropertyBytes)
          return fail(where, what + " is a text of " + std::to_string(v.string()->size()) + " bytes, more than " +
                                 std::to_string(limits_.maxPropertyBytes));
        return true;
      case Value::Type::Data:
        if (v.data()->length() > limits_.maxPropertyBytes)
          return fail(where, what + " is a byte string of " + std::to_string(v.data()->length()) +
                                 " bytes, more than " + std::to_string(limits_.maxPropertyBytes));
        return true;
      case Value::Type::Array: {
        size_t i = 0;
        for (const auto& e : *v.array()) {
          if (!checkProperty(e, where, what + "[" + std::to_string(i++) + "]")) return false;
        }
        return true;
      }
      case Value::Type::Dictionary:
        for (const auto& [k, e] : *v.dictionary()) {
          if (!checkProperty(e, where, what + "." + k)) return false;
        }
        return true;
      default: return true;
    }
  }

  // namesPath names the parent by the names from its plane's root ("HwService/zel-io"); a
  // faulty child is shown by its place, since its own name may be the fault.
  bool loadChildren(RegistryEntry* parent, const std::string& namesPath, const ArrayRef& children) {
    if (!children) return true;
    size_t i = 0;
    for (const auto& child : *children) {
      std::string where = namesPath + "/children[" + std::to_string(i++) + "]";
      Fields f;
      if (!readFields(child, where, &f)) return false;
      RegistryEntry* entry = store_->addEntry(parent, *f.name, *f.className, f.properties);
      if (!loadChildren(entry, namesPath + "/" + *f.name, f.children)) return false;
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

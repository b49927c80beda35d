#include "platform/Bundle.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include "platform/Json.h"

namespace xr {
namespace {
// Resources and tables are small; a bigger file is not one of ours.
const JsonLimits kResourceLimits{64, 16u * 1024 * 1024};

bool isRegularFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}
}  // namespace

Bundle::Bundle(std::string path) : path_(std::move(path)) {
  while (path_.size() > 1 && path_.back() == '/') path_.pop_back();
}

std::shared_ptr<Bundle> Bundle::containingAddress(const void* address) {
  Dl_info info{};
  if (::dladdr(address, &info) == 0 || !info.dli_fname) return nullptr;
  std::string file = info.dli_fname;
  auto slash = file.rfind('/');
  return std::make_shared<Bundle>(slash == std::string::npos ? "." : file.substr(0, slash));
}

std::optional<std::string> Bundle::pathForResource(const std::string& name, const std::string& type) const {
  if (name.empty()) return std::nullopt;
  std::string path = path_ + "/" + name + (type.empty() ? "" : "." + type);
  if (!isRegularFile(path)) return std::nullopt;
  return path;
}

std::string Bundle::localizedString(const std::optional<std::string>& key, const std::string& value) const {
  if (!key) return value;
  std::call_once(tableOnce_, [this] {
    auto result = readJsonFile(path_ + "/Localizable.json", kResourceLimits);
    table_ = result.ok() ? result.value.dictionary() : nullptr;
  });
  if (table_) {
    if (const Value* entry = table_->find(*key))
      if (const std::string* text = entry->string()) return *text;
  }
  return value.empty() ? *key : value;
}

DictionaryRef Bundle::infoDictionary() const {
  std::string path = path_ + "/Contents/Info.json";
  if (!isRegularFile(path)) return nullptr;
  auto result = readJsonFile(path, kResourceLimits);
  return result.ok() ? result.value.dictionary() : nullptr;
}

}  // namespace xr

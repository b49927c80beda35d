#include "platform/Bundle.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include "platform/Json.h"
#include "platform/PlatformRoot.h"

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

Bundle::Bundle(Rooted, std::string_view absolutePath) : Bundle(resolvePath(absolutePath)) {
  rootedPath_ = absolutePath;
  while (rootedPath_.size() > 1 && rootedPath_.back() == '/') rootedPath_.pop_back();
}

Bundle Bundle::underPlatformRoot(std::string_view absolutePath) { return Bundle(Rooted{}, absolutePath); }

DictionaryRef Bundle::readDictionary(const std::string& relative) const {
  JsonResult result = rootedPath_.empty() ? readJsonFile(path_ + "/" + relative, kResourceLimits)
                                          : readJsonFileUnderPlatformRoot(rootedPath_ + "/" + relative, kResourceLimits);
  return result.ok() ? result.value.dictionary() : nullptr;
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
  std::call_once(tableOnce_, [this] { table_ = readDictionary("Localizable.json"); });
  if (table_) {
    if (const Value* entry = table_->find(*key))
      if (const std::string* text = entry->string()) return *text;
  }
  return value.empty() ? *key : value;
}

DictionaryRef Bundle::infoDictionary() const { return readDictionary("Contents/Info.json"); }

}  // namespace xr

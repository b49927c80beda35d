#include "platform/Preferences.h"

#include <mutex>

#include "platform/Json.h"
#include "platform/PlatformRoot.h"

namespace xr {
namespace {
std::mutex gMutex;
DictionaryRef gDomain;
const JsonLimits kPreferencesLimits{32, 4u * 1024 * 1024};
}  // namespace

void Preferences::synchronize() {
  auto result = readJsonFileUnderPlatformRoot(kRelativePath, kPreferencesLimits);
  DictionaryRef domain = result.ok() ? result.value.dictionary() : nullptr;
  std::lock_guard lock(gMutex);
  gDomain = std::move(domain);
}

Value Preferences::copyValue(const std::string& key) {
  std::lock_guard lock(gMutex);
  return gDomain ? gDomain->get(key) : Value();
}

}  // namespace xr

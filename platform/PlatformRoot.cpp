#include "platform/PlatformRoot.h"

#include <sys/stat.h>

#include <mutex>

namespace xr {
namespace {
std::mutex gRootMutex;
std::string& rootStorage() {
  static std::string root = "/";
  return root;
}
}  // namespace

std::string platformRoot() {
  std::lock_guard lock(gRootMutex);
  return rootStorage();
}

void setPlatformRoot(std::string root) {
  size_t end = root.find_last_not_of('/');
  std::string trimmed = end == std::string::npos ? std::string("/") : root.substr(0, end + 1);
  std::lock_guard lock(gRootMutex);
  rootStorage() = std::move(trimmed);
}

std::string resolvePath(std::string_view absolutePath) {
  std::string root = platformRoot();
  if (root == "/") return std::string(absolutePath);
  std::string_view separator = absolutePath.starts_with('/') ? "" : "/";
  std::string out;
  out.reserve(root.size() + separator.size() + absolutePath.size());
  out += root;
  out += separator;
  out += absolutePath;
  return out;
}

bool fileExistsAtPath(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

}  // namespace xr

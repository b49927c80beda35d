#include "platform/PlatformRoot.h"

#include <sys/stat.h>

#include <map>
#include <mutex>

namespace xr {
namespace {
std::mutex gRootMutex;
std::string& rootStorage() {
  static std::string root = "/";
  return root;
}
std::map<std::string, std::string, std::less<>>& mappedPaths() {
  static std::map<std::string, std::string, std::less<>> paths;
  return paths;
}
std::string mappedPath(std::string_view fixedPath) {
  std::lock_guard lock(gRootMutex);
  auto it = mappedPaths().find(fixedPath);
  return it == mappedPaths().end() ? std::string() : it->second;
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

void mapFixedPath(const std::string& fixedPath, std::string actualPath) {
  std::lock_guard lock(gRootMutex);
  if (actualPath.empty())
    mappedPaths().erase(fixedPath);
  else
    mappedPaths()[fixedPath] = std::move(actualPath);
}

ScopedFixedPath::ScopedFixedPath(std::string fixedPath, std::string actualPath)
    : fixedPath_(std::move(fixedPath)), saved_(mappedPath(fixedPath_)) {
  mapFixedPath(fixedPath_, std::move(actualPath));
}

ScopedFixedPath::~ScopedFixedPath() { mapFixedPath(fixedPath_, saved_); }

std::string resolvePath(std::string_view absolutePath) {
  if (std::string mapped = mappedPath(absolutePath); !mapped.empty()) return mapped;
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

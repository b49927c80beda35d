#include "platform/PlatformRoot.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>

#include <cerrno>
#include <map>
#include <mutex>

#include "platform/Posix.h"

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

int openUnderPlatformRoot(std::string_view absolutePath, int flags) {
  if (std::string mapped = mappedPath(absolutePath); !mapped.empty()) return posix::open(mapped.c_str(), flags);
  const std::string root = platformRoot();
  if (root == "/") return posix::open(std::string(absolutePath).c_str(), flags);
  FileDescriptor rootDirectory(posix::open(root.c_str(), O_PATH | O_DIRECTORY));
  if (!rootDirectory) return -1;
  std::string_view inside = absolutePath;
  while (!inside.empty() && inside.front() == '/') inside.remove_prefix(1);
  const std::string relative = inside.empty() ? std::string(".") : std::string(inside);
  const int fd = posix::openat2(rootDirectory.get(), relative.c_str(), flags, RESOLVE_IN_ROOT | RESOLVE_NO_MAGICLINKS);
  // Kernels before 5.6 cannot confine the walk; there the path is used as it stands.
  if (fd < 0 && errno == ENOSYS) return posix::open(resolvePath(absolutePath).c_str(), flags);
  return fd;
}

}  // namespace xr

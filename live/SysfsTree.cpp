#include "live/SysfsTree.h"

#include <dirent.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/Posix.h"

namespace xr {
namespace {

std::vector<std::string> sortedNaturally(std::vector<std::string> names) {
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) { return ::strverscmp(a.c_str(), b.c_str()) < 0; });
  return names;
}

// The entry's type, asking the file system only when the directory listing does not say.
unsigned char entryType(int dirFd, const struct dirent* e) {
  if (e->d_type != DT_UNKNOWN) return e->d_type;
  struct stat st;
  if (::fstatat(dirFd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) return DT_UNKNOWN;
  if (S_ISDIR(st.st_mode)) return DT_DIR;
  if (S_ISREG(st.st_mode)) return DT_REG;
  if (S_ISLNK(st.st_mode)) return DT_LNK;
  return DT_UNKNOWN;
}

class Directory {
 public:
  explicit Directory(const std::string& path) : dir_(::opendir(path.c_str())) {}
  ~Directory() {
    if (dir_) ::closedir(dir_);
  }
  Directory(const Directory&) = delete;
  Directory& operator=(const Directory&) = delete;
  DIR* get() const { return dir_; }

 private:
  DIR* dir_;
};

std::optional<std::string> readLink(const std::string& path) {
  char buffer[PATH_MAX];
  ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof buffer) return std::nullopt;
  return std::string(buffer, static_cast<size_t>(n));
}

}  // namespace

std::string normalizePath(std::string_view path) {
  std::vector<std::string_view> parts;
  size_t i = 0;
  while (i <= path.size()) {
    size_t slash = path.find('/', i);
    if (slash == std::string_view::npos) slash = path.size();
    std::string_view part = path.substr(i, slash - i);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    i = slash + 1;
  }
  std::string out;
  for (std::string_view part : parts) {
    out += '/';
    out += part;
  }
  return out.empty() ? "/" : out;
}

std::string parentPath(std::string_view path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string_view::npos || slash == 0) return "/";
  return std::string(path.substr(0, slash));
}

std::string_view baseName(std::string_view path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

SysfsTree::SysfsTree(std::string root) {
  root_ = normalizePath(root);
  if (root_ == "/") root_.clear();
}

std::string SysfsTree::at(std::string_view systemPath) const {
  std::string out = root_;
  out += systemPath;
  return out;
}

std::optional<Data> SysfsTree::bytes(std::string_view systemPath, size_t limit) const {
  // Non-blocking and regular files only: a FIFO or device in a broken tree must not hang us.
  FileDescriptor fd(posix::open(at(systemPath).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!fd) return std::nullopt;
  struct stat st;
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  std::vector<uint8_t> buffer(limit + 1);
  size_t length = 0;
  // sysfs gives a whole attribute per read; a file that grows while read still stops at limit.
  while (length < buffer.size()) {
    ssize_t n = posix::read(fd.get(), buffer.data() + length, buffer.size() - length);
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    length += static_cast<size_t>(n);
  }
  if (length > limit) return std::nullopt;
  buffer.resize(length);
  return Data(std::move(buffer));
}

std::optional<std::string> SysfsTree::attribute(std::string_view systemPath) const {
  std::optional<Data> data = bytes(systemPath, kAttributeLimit);
  if (!data) return std::nullopt;
  std::string text = data->asString();
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

std::optional<std::string> SysfsTree::follow(std::string_view systemPath) const {
  std::string path = normalizePath(systemPath);
  char buffer[PATH_MAX];
  for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
    // One readlink a hop, no lstat before it: EINVAL says the path is there and is no link.
    const ssize_t n = ::readlink(at(path).c_str(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINVAL) return path;
      return hop == 0 ? std::nullopt : std::optional(path);
    }
    if (n == 0 || static_cast<size_t>(n) >= sizeof buffer) return std::nullopt;
    const std::string target(buffer, static_cast<size_t>(n));
    path = normalizePath(target.starts_with('/') ? target : parentPath(path) + "/" + target);
  }
  return std::nullopt;
}

std::optional<std::string> SysfsTree::linkTarget(std::string_view systemPath) const {
  std::string path = normalizePath(systemPath);
  std::optional<std::string> target = readLink(at(path));
  if (!target) return std::nullopt;
  return normalizePath(target->starts_with('/') ? *target : parentPath(path) + "/" + *target);
}

std::optional<std::string> SysfsTree::linkName(std::string_view systemPath) const {
  // The kernel points these links straight at the directory they name: one readlink.
  std::optional<std::string> target = linkTarget(systemPath);
  if (!target || *target == "/") return std::nullopt;
  return std::string(baseName(*target));
}

std::vector<std::string> SysfsTree::list(std::string_view systemPath, bool (*skip)(std::string_view name)) const {
  std::vector<std::string> names;
  Directory dir(at(systemPath));
  if (!dir.get()) return names;
  while (const struct dirent* e = ::readdir(dir.get())) {
    if (::strcmp(e->d_name, ".") != 0 && ::strcmp(e->d_name, "..") != 0 && !(skip && skip(e->d_name)))
      names.emplace_back(e->d_name);
  }
  return sortedNaturally(std::move(names));
}

void SysfsTree::listNodes(std::string_view systemPath, std::vector<std::string>* directories,
                          std::vector<std::string>* files) const {
  Directory dir(at(systemPath));
  if (!dir.get()) return;
  while (const struct dirent* e = ::readdir(dir.get())) {
    if (::strcmp(e->d_name, ".") == 0 || ::strcmp(e->d_name, "..") == 0) continue;
    unsigned char type = entryType(::dirfd(dir.get()), e);
    if (type == DT_DIR) directories->emplace_back(e->d_name);
    if (type == DT_REG) files->emplace_back(e->d_name);
  }
  *directories = sortedNaturally(std::move(*directories));
  *files = sortedNaturally(std::move(*files));
}

std::optional<dev_t> SysfsTree::characterDevice(std::string_view systemPath) const {
  std::optional<std::string> target = follow(systemPath);
  struct stat st;
  if (!target || ::lstat(at(*target).c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return std::nullopt;
  return st.st_rdev;
}

}  // namespace xr

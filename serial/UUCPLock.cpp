#include "serial/UUCPLock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <set>
#include <utility>

#include "platform/PlatformRoot.h"
#include "platform/Posix.h"

namespace xr {
namespace {
std::string baseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The pid written in a lock file, whether or not it lives; 0 for none or junk. Text (ten
// digits and a newline, the usual form) or the four binary bytes of older programs.
pid_t recordedPid(const std::string& lockPath) {
  FileDescriptor fd(posix::open(lockPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
  struct stat st{};
  if (!fd || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  char text[32];
  const ssize_t n = posix::read(fd.get(), text, sizeof text - 1);
  if (n <= 0) return 0;
  long pid = 0;
  // Four bytes with a zero among them are the binary form: a text pid has none, and a pid (at
  // most 2^22) always has a zero high byte. Its low bytes may well look like digits.
  if (n == 4 && st.st_size == 4 && std::memchr(text, '\0', 4)) {
    int32_t binary = 0;
    std::memcpy(&binary, text, sizeof binary);
    pid = binary;
  } else {
    size_t at = 0;
    while (at < static_cast<size_t>(n) && (text[at] == ' ' || text[at] == '\t')) ++at;
    for (size_t digits = 0; at < static_cast<size_t>(n) && text[at] >= '0' && text[at] <= '9' && digits < 10;
         ++at, ++digits) {
      pid = pid * 10 + (text[at] - '0');
    }
  }
  return pid > 0 && pid <= 0x3fffffff ? static_cast<pid_t>(pid) : 0;
}

bool alive(pid_t pid) { return ::kill(pid, 0) == 0 || errno == EPERM; }

std::string pidText(pid_t pid) {
  char text[16];
  std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
  return text;
}

bool writeAll(int fd, const std::string& text) {
  return posix::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}
}  // namespace

std::vector<std::string> UUCPLock::defaultDirectories() {
  std::vector<std::string> directories;
  std::set<std::pair<dev_t, ino_t>> seen;  // /var/lock is often a link to /run/lock
  for (const char* directory : {"/var/lock", "/run/lock"}) {
    std::string path = resolvePath(directory);
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
    if (seen.insert({st.st_dev, st.st_ino}).second) directories.push_back(std::move(path));
  }
  return directories;
}

UUCPLock::UUCPLock(std::string devicePath, std::vector<std::string> directories)
    : _directories(std::move(directories)) {
  _names.push_back(baseName(devicePath));
  // Others may know the device by its real name: /dev/modem can be /dev/ttyS1 to minicom.
  // Links followed by hand (realpath crashes under some interposers, umockdev's among them).
  std::string path = devicePath;
  char target[PATH_MAX];
  for (int hops = 0; hops < 8; ++hops) {
    const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
    if (n <= 0) break;
    const std::string link(target, static_cast<size_t>(n));
    path = link.starts_with("/") ? link : path.substr(0, path.rfind('/') + 1) + link;
  }
  if (std::string real = baseName(path); real != _names.front()) _names.push_back(std::move(real));
}

UUCPLock::~UUCPLock() { release(); }

std::string UUCPLock::lockFileName(const std::string& deviceName) { return "LCK.." + deviceName; }

pid_t UUCPLock::liveOwner(const std::string& lockPath) {
  const pid_t pid = recordedPid(lockPath);
  return pid != 0 && alive(pid) ? pid : 0;
}

std::optional<pid_t> UUCPLock::recordedOwner(const std::string& lockPath) {
  struct stat st{};
  if (::lstat(lockPath.c_str(), &st) != 0 && errno == ENOENT) return std::nullopt;
  return recordedPid(lockPath);
}

UUCPLock::Status UUCPLock::acquire() {
  release();
  _holder = 0;
  _holderPath.clear();
  // Every name in every directory first: a live lock anywhere makes the device busy.
  for (const std::string& name : _names) {
    for (const std::string& directory : _directories) {
      const std::string path = directory + "/" + lockFileName(name);
      if (const pid_t owner = liveOwner(path)) {
        _holder = owner;
        _holderPath = path;
        return Status::kBusy;
      }
    }
  }
  for (const std::string& name : _names) {
    for (const std::string& directory : _directories) {
      if (take(directory + "/" + lockFileName(name))) break;
      if (_holder != 0) {  // someone was quicker
        release();
        return Status::kBusy;
      }
    }
  }
  return held() ? Status::kAcquired : Status::kUnlocked;
}

// Writes the lock under a name of our own first and links it into place, so that nobody ever
// reads a lock file without its pid (and takes it for junk). A file already by that name (a
// crashed process of our pid, or another user's: lock directories are open to all) is
// unlinked, never written into.
bool UUCPLock::take(const std::string& lockPath) {
  const std::string directory = lockPath.substr(0, lockPath.rfind('/'));
  const std::string text = pidText(::getpid());
  const std::string scratch = directory + "/LTMP." + std::to_string(::getpid());
  {
    constexpr int kNew = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW;
    FileDescriptor fd(posix::open(scratch.c_str(), kNew, 0644));
    if (!fd && errno == EEXIST && ::unlink(scratch.c_str()) == 0) fd.reset(posix::open(scratch.c_str(), kNew, 0644));
    if (!fd) return false;
    if (!writeAll(fd.get(), text)) {
      ::unlink(scratch.c_str());
      return false;
    }
  }
  bool taken = false;
  for (int attempt = 0; attempt < 3 && !taken; ++attempt) {
    if (::link(scratch.c_str(), lockPath.c_str()) == 0) {
      taken = true;
      break;
    }
    if (errno != EEXIST) break;
    if (const pid_t owner = liveOwner(lockPath)) {
      _holder = owner;
      _holderPath = lockPath;
      break;
    }
    ::unlink(lockPath.c_str());  // stale: a dead owner's, or junk
  }
  ::unlink(scratch.c_str());
  if (taken) _held.push_back(lockPath);
  return taken;
}

void UUCPLock::release() {
  for (const std::string& path : _held) {
    // Another owner may have broken our lock as stale and put its own in its place.
    if (recordedPid(path) == ::getpid()) ::unlink(path.c_str());
  }
  _held.clear();
}

}  // namespace xr

#include "serial/UUCPLock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
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

// A lock file as read through one descriptor: the pid written in it, whether or not it lives
// (0 for none or junk), and which file that was. Text (ten digits and a newline, the usual
// form) or the four binary bytes of older programs.
struct LockFileContents {
  bool present = false;  // a file of some kind is at the name
  pid_t pid = 0;
  dev_t device = 0;
  ino_t inode = 0;
};

LockFileContents readLockFile(const std::string& lockPath) {
  LockFileContents found;
  struct stat named{};
  if (::lstat(lockPath.c_str(), &named) != 0) {
    found.present = errno != ENOENT;
    return found;
  }
  found.present = true;
  found.device = named.st_dev;
  found.inode = named.st_ino;
  if (!S_ISREG(named.st_mode)) return found;  // junk, and never opened: it may be a device
  FileDescriptor fd(posix::open(lockPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
  struct stat st{};
  // Another file than the one named a moment ago is read as junk: the caller looks again.
  if (!fd || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_dev != named.st_dev ||
      st.st_ino != named.st_ino)
    return found;
  char text[32];
  const ssize_t n = posix::read(fd.get(), text, sizeof text - 1);
  if (n <= 0) return found;
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
  found.pid = pid > 0 && pid <= 0x3fffffff ? static_cast<pid_t>(pid) : 0;
  return found;
}

pid_t recordedPid(const std::string& lockPath) { return readLockFile(lockPath).pid; }

bool alive(pid_t pid) { return ::kill(pid, 0) == 0 || errno == EPERM; }

// An flock of the lock directory, held while a stale lock is judged, removed and replaced.
// Without it two takers that find the same stale lock both remove it, the later one the lock
// the earlier one has just made in its place, and both use the device. Programs that do not
// take it are not kept out. Waited for a bounded time only: its holders hold it for a few
// system calls, and a stopped one must not stop every report.
class StaleLockGuard {
 public:
  explicit StaleLockGuard(const std::string& directory)
      : fd_(posix::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK)) {
    constexpr int kTries = 1000;
    constexpr struct timespec kPause{0, 1000000};  // 1 ms
    if (!fd_) return;  // a directory that cannot be read: judged unguarded
    for (int tries = 1; ::flock(fd_.get(), LOCK_EX | LOCK_NB) != 0; ++tries) {
      if (errno != EWOULDBLOCK || tries == kTries) {
        timedOut_ = errno == EWOULDBLOCK;  // else a file system without flock
        return;
      }
      ::nanosleep(&kPause, nullptr);
    }
  }
  bool timedOut() const { return timedOut_; }

 private:
  FileDescriptor fd_;  // closing it gives the flock back
  bool timedOut_ = false;
};

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
    // Only where the path leads inside the platform root: a profile's var/lock linked out of
    // its root would have our locks made, and stale ones removed, elsewhere on this machine.
    const FileDescriptor inside(openUnderPlatformRoot(directory, O_RDONLY | O_DIRECTORY));
    struct stat st{}, insideSt{};
    if (!inside || ::fstat(inside.get(), &insideSt) != 0 || ::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_dev != insideSt.st_dev || st.st_ino != insideSt.st_ino)
      continue;
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
  const LockFileContents found = readLockFile(lockPath);
  if (!found.present) return std::nullopt;
  return found.pid;
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
  const auto linkInPlace = [&] { return ::link(scratch.c_str(), lockPath.c_str()) == 0 ? 0 : errno; };
  int error = linkInPlace();
  for (int attempt = 0; attempt < 3 && error == EEXIST; ++attempt) {
    const StaleLockGuard guard(directory);
    if (guard.timedOut()) break;
    const LockFileContents found = readLockFile(lockPath);
    if (found.pid != 0 && alive(found.pid)) {
      _holder = found.pid;
      _holderPath = lockPath;
      break;
    }
    // Stale: a dead owner's, or junk. Removed only while it is still the file just judged
    // (gone or replaced since: look again), and replaced before the guard is given back.
    struct stat now{};
    if (found.present && ::lstat(lockPath.c_str(), &now) == 0 && now.st_dev == found.device &&
        now.st_ino == found.inode)
      ::unlink(lockPath.c_str());
    error = linkInPlace();
  }
  const bool taken = error == 0;
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

#include "ports/PortHolders.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "platform/BlockedSignals.h"
#include "platform/Posix.h"

namespace xr {
namespace {

// A directory stream that owns its descriptor.
class DirectoryStream {
 public:
  explicit DirectoryStream(int fd) : dir_(fd >= 0 ? ::fdopendir(fd) : nullptr) {
    if (fd >= 0 && !dir_) ::close(fd);
  }
  ~DirectoryStream() {
    if (dir_) ::closedir(dir_);
  }
  DirectoryStream(const DirectoryStream&) = delete;
  DirectoryStream& operator=(const DirectoryStream&) = delete;
  explicit operator bool() const { return dir_ != nullptr; }
  int fd() const { return ::dirfd(dir_); }
  const char* next() {
    while (const dirent* e = ::readdir(dir_)) {
      if (e->d_name[0] != '.') return e->d_name;
    }
    return nullptr;
  }

 private:
  DIR* dir_;
};

std::optional<int> pidOf(const char* name) {
  int pid = 0;
  for (const char* c = name; *c; ++c) {
    if (*c < '0' || *c > '9' || pid > 99999999) return std::nullopt;
    pid = pid * 10 + (*c - '0');
  }
  return pid > 0 ? std::optional<int>(pid) : std::nullopt;
}

int openDirectory(int at, const char* path) { return ::openat(at, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC); }

struct PortIndex {
  std::unordered_map<dev_t, std::vector<size_t>> byDevice;
  std::unordered_map<std::string, std::vector<size_t>> byPath;
};

PortIndex indexPorts(const std::vector<SerialPortRecord>& ports) {
  PortIndex index;
  for (size_t i = 0; i < ports.size(); ++i) {
    bool numbered = false;
    for (const std::string& path : ports[i].paths()) {
      index.byPath[path].push_back(i);
      struct stat st{};
      if (!numbered && ::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode)) {
        index.byDevice[st.st_rdev].push_back(i);
        numbered = true;
      }
    }
  }
  return index;
}

// The descriptors of one process: the names in its fd/ directory, read with getdents64 into
// a buffer of our own (no stream, no fstat of the directory: this runs for every process).
class FdDirectory {
 public:
  FdDirectory(int at, const char* path) : fd_(::openat(at, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
  ~FdDirectory() {
    if (fd_ >= 0) ::close(fd_);
  }
  FdDirectory(const FdDirectory&) = delete;
  FdDirectory& operator=(const FdDirectory&) = delete;
  explicit operator bool() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  const char* next() {
    for (;;) {
      if (at_ >= size_) {
        const long n = ::syscall(SYS_getdents64, fd_, buffer_, sizeof buffer_);
        if (n <= 0) return nullptr;
        size_ = static_cast<size_t>(n);
        at_ = 0;
      }
      const auto* entry = reinterpret_cast<const struct dirent64*>(buffer_ + at_);
      at_ += entry->d_reclen;
      if (entry->d_name[0] != '.') return entry->d_name;
    }
  }

 private:
  int fd_;
  alignas(struct dirent64) char buffer_[8192];
  size_t size_ = 0;
  size_t at_ = 0;
};

}  // namespace

PortHolders::PortHolders(std::string procRoot) : procRoot_(std::move(procRoot)) {}

HolderScan PortHolders::scan(const std::vector<SerialPortRecord>& ports, int skipPid, Threads threads) const {
  HolderScan result;
  result.holders.resize(ports.size());
  if (ports.empty()) return result;
  const PortIndex index = indexPorts(ports);

  DirectoryStream proc(openDirectory(AT_FDCWD, procRoot_.c_str()));
  if (!proc) return result;
  std::vector<int> pids;
  while (const char* entry = proc.next()) {
    if (const auto pid = pidOf(entry); pid && *pid != skipPid) pids.push_back(*pid);
  }
  struct Part {
    std::vector<std::pair<int, std::vector<size_t>>> matches;  // pid, the ports it holds
    int uninspected = 0;
  };
  // The pids not yet taken, one at a time, into part: threads sharing the pass stay busy to
  // its end, however the descriptors are spread over the processes.
  std::atomic<size_t> next{0};
  auto pass = [&index, procFd = proc.fd(), &pids, &next](Part* part) {
    // What each link text leads to: a desktop's processes hold the same few files (/dev/null,
    // their terminal, libraries), so each is stat'ed once, not once per descriptor. Texts are
    // paths in the reading process's namespace, which is ours.
    std::unordered_map<std::string, std::vector<size_t>> seen;
    std::vector<size_t> matched;
    char link[4096];
    char fdPath[32];
    for (size_t i = next++; i < pids.size(); i = next++) {
      std::snprintf(fdPath, sizeof fdPath, "%d/fd", pids[i]);
      FdDirectory fds(procFd, fdPath);
      if (!fds) {
        if (errno == EACCES || errno == EPERM) ++part->uninspected;
        continue;  // gone, or not a process
      }
      matched.clear();
      bool denied = false;
      while (const char* fd = fds.next()) {
        const ssize_t n = ::readlinkat(fds.fd(), fd, link, sizeof link);
        if (n <= 0) {
          // Reading a process's links is allowed or refused for the whole process: one refusal
          // stands for every descriptor (a busy daemon has hundreds).
          if (errno == EACCES || errno == EPERM) {
            denied = true;
            break;
          }
          continue;  // closed since the listing
        }
        // Sockets, pipes and anonymous inodes ("socket:[4711]") are no port.
        if (link[0] != '/') continue;
        std::string text(link, static_cast<size_t>(n));
        if (auto it = index.byPath.find(text); it != index.byPath.end()) {
          matched.insert(matched.end(), it->second.begin(), it->second.end());
          continue;
        }
        auto [known, added] = seen.try_emplace(std::move(text));
        if (added) {
          // By device number: the port opened under another name. A target that cannot be
          // stat'ed, such as a profile's device this machine lacks, is no port here.
          struct stat st{};
          if (::fstatat(fds.fd(), fd, &st, 0) == 0 && S_ISCHR(st.st_mode)) {
            if (auto it = index.byDevice.find(st.st_rdev); it != index.byDevice.end()) known->second = it->second;
          }
        }
        matched.insert(matched.end(), known->second.begin(), known->second.end());
      }
      if (denied && matched.empty()) ++part->uninspected;
      if (!matched.empty()) part->matches.emplace_back(pids[i], matched);
    }
  };
  // The pass is system calls for every descriptor of every process, most of its time in the
  // kernel: a second thread shares it.
  constexpr size_t kSplitFrom = 64;
  const bool split = threads == Threads::kTwo && pids.size() >= kSplitFrom && std::thread::hardware_concurrency() > 1;
  Part parts[2];
  {
    std::jthread helper;
    if (split) {
      try {
        const BlockedSignals blocked = BlockedSignals::termination();
        helper = std::jthread(pass, &parts[1]);
      } catch (const std::system_error&) {
      }
    }
    pass(&parts[0]);
  }
  for (Part& part : parts) {
    result.uninspected += part.uninspected;
    for (auto& [pid, matched] : part.matches) {
      std::sort(matched.begin(), matched.end());
      matched.erase(std::unique(matched.begin(), matched.end()), matched.end());
      const ProcessRef process{pid, processName(pid).value_or("")};
      for (size_t port : matched) result.holders[port].push_back(process);
    }
  }
  for (auto& holders : result.holders)
    std::sort(holders.begin(), holders.end(), [](const ProcessRef& a, const ProcessRef& b) { return a.pid < b.pid; });
  return result;
}

bool PortHolders::isAlive(int pid) const {
  if (pid <= 0) return false;
  struct stat st{};
  return ::stat((procRoot_ + "/" + std::to_string(pid)).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<std::string> PortHolders::processName(int pid) const {
  FileDescriptor fd(posix::open((procRoot_ + "/" + std::to_string(pid) + "/comm").c_str(), O_RDONLY));
  if (!fd) return std::nullopt;
  char buffer[256];
  const ssize_t n = posix::read(fd.get(), buffer, sizeof buffer);
  if (n <= 0) return std::nullopt;
  std::string name(buffer, static_cast<size_t>(n));
  while (!name.empty() && (name.back() == '\n' || name.back() == '\0')) name.pop_back();
  return name;
}

}  // namespace xr

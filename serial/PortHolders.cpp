#include "serial/PortHolders.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "platform/BlockedSignals.h"
#include "platform/Posix.h"
#include "platform/RegularFile.h"

namespace xr {
namespace {

std::optional<int> pidOf(const char* name) {
  int pid = 0;
  for (const char* c = name; *c; ++c) {
    if (*c < '0' || *c > '9' || pid > 99999999) return std::nullopt;
    pid = pid * 10 + (*c - '0');
  }
  return pid > 0 ? std::optional<int>(pid) : std::nullopt;
}

struct PortIndex {
  std::unordered_map<dev_t, std::vector<size_t>> byDevice;
  std::unordered_map<std::string, std::vector<size_t>> byPath;
};

PortIndex indexPorts(const std::vector<PortPaths>& ports) {
  PortIndex index;
  for (size_t i = 0; i < ports.size(); ++i) {
    bool numbered = false;
    for (const std::string& path : ports[i]) {
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

// The names in a directory (none starting with '.'), read with getdents64 into a buffer of our
// own: no stream and no fstat of the directory, as this runs for every process's fd/. There
// the first read asks for a few names only (firstRead): the kernel makes an entry for each
// name it lists, and a process whose links we may not read is known by its first (a daemon
// has hundreds).
class DirectoryNames {
 public:
  static constexpr size_t kFewNames = 512;  // ".", ".." and about twenty descriptors

  DirectoryNames(int at, const char* path, size_t firstRead = kBufferSize)
      : fd_(::openat(at, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC)), firstRead_(firstRead) {}
  ~DirectoryNames() {
    if (fd_ >= 0) ::close(fd_);
  }
  DirectoryNames(const DirectoryNames&) = delete;
  DirectoryNames& operator=(const DirectoryNames&) = delete;
  explicit operator bool() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  const char* next() {
    for (;;) {
      if (at_ >= size_) {
        const long n = ::syscall(SYS_getdents64, fd_, buffer_, !read_ ? firstRead_ : sizeof buffer_);
        if (n <= 0) return nullptr;
        size_ = static_cast<size_t>(n);
        read_ = true;
        at_ = 0;
      }
      const auto* entry = reinterpret_cast<const struct dirent64*>(buffer_ + at_);
      at_ += entry->d_reclen;
      if (entry->d_name[0] != '.') return entry->d_name;
    }
  }

 private:
  static constexpr size_t kBufferSize = 8192;
  int fd_;
  size_t firstRead_;
  alignas(struct dirent64) char buffer_[kBufferSize];
  size_t size_ = 0;
  size_t at_ = 0;
  bool read_ = false;
};

// A small file under proc, whole; "" when it cannot be read.
std::string readProcFile(int procFd, const char* path) {
  return readRegularFileFrom(::openat(procFd, path, O_RDONLY | O_CLOEXEC | O_NONBLOCK), 1u << 20).contents;
}

// The kernel's threads, sorted: kthreadd (pid 2) and its children. A desktop has a hundred or
// more and none holds a descriptor; one read of kthreadd's children spares a look at each.
// None when pid 2 is no kernel thread (in a pid namespace it is anyone's) or the kernel does
// not list children, and in a profile's tree, which has no such files.
std::vector<int> kernelThreads(int procFd) {
  constexpr unsigned long kKernelThreadFlag = 0x00200000;  // PF_KTHREAD
  const std::string stat = readProcFile(procFd, "2/stat");
  // "2 (kthreadd) S 0 0 0 0 -1 2129984 ...": the flags are the seventh field after the name.
  size_t at = stat.rfind(')');
  for (int field = 0; field < 7 && at != std::string::npos; ++field) at = stat.find(' ', at + 1);
  if (at == std::string::npos) return {};
  char* flagsEnd;
  const unsigned long flags = std::strtoul(stat.c_str() + at + 1, &flagsEnd, 10);
  if (flagsEnd == stat.c_str() + at + 1 || !(flags & kKernelThreadFlag)) return {};
  std::vector<int> pids{2};
  const std::string children = readProcFile(procFd, "2/task/2/children");
  for (const char* c = children.c_str(); *c;) {
    char* end;
    const long pid = std::strtol(c, &end, 10);
    if (end == c) break;
    if (pid > 0 && pid <= INT_MAX) pids.push_back(static_cast<int>(pid));
    c = end;
  }
  std::sort(pids.begin(), pids.end());
  return pids;
}

}  // namespace

PortHolders::PortHolders(std::string procRoot) : procRoot_(std::move(procRoot)) {}

HolderScan PortHolders::scan(const std::vector<PortPaths>& ports, int skipPid) const {
  if (ports.empty()) return {};
  HolderPass pass(*this, ports, skipPid);
  // The pass is system calls for every descriptor of every process, most of its time in the
  // kernel: a second thread shares a long one.
  constexpr size_t kSplitFrom = 64;
  std::jthread helper;
  if (pass.processes() >= kSplitFrom && std::thread::hardware_concurrency() > 1) {
    try {
      const BlockedSignals blocked = BlockedSignals::termination();
      helper = std::jthread([&pass] { pass.work(); });
    } catch (const std::system_error&) {
    }
  }
  pass.work();
  return pass.result();
}

struct HolderPass::State {
  State(const PortHolders& holders, const std::vector<PortPaths>& ports)
      : holders(holders),
        portCount(ports.size()),
        index(indexPorts(ports)),
        proc(AT_FDCWD, holders.procRoot().c_str()) {}

  PortHolders holders;
  size_t portCount = 0;
  PortIndex index;
  DirectoryNames proc;
  std::vector<int> pids;
  std::atomic<size_t> next{0};

  std::mutex mutex;
  std::condition_variable idle;
  int working = 0;
  bool closed = false;
  std::vector<std::pair<int, std::vector<size_t>>> matches;  // pid, the ports it holds
  std::vector<int> uninspected;
};

HolderPass::HolderPass(const PortHolders& holders, const std::vector<PortPaths>& ports, int skipPid)
    : state_(std::make_unique<State>(holders, ports)) {
  State& s = *state_;
  if (ports.empty() || !s.proc) return;
  const std::vector<int> kernel = kernelThreads(s.proc.fd());
  while (const char* entry = s.proc.next()) {
    if (const auto pid = pidOf(entry); pid && *pid != skipPid && !std::binary_search(kernel.begin(), kernel.end(), *pid))
      s.pids.push_back(*pid);
  }
}

HolderPass::~HolderPass() = default;

size_t HolderPass::processes() const { return state_->pids.size(); }

void HolderPass::work() {
  State& s = *state_;
  {
    std::lock_guard lock(s.mutex);
    if (s.closed) return;
    ++s.working;
  }
  // Left on every way out, so that result() never waits for a worker that is gone.
  struct Leave {
    State& s;
    ~Leave() {
      std::lock_guard lock(s.mutex);
      --s.working;
      s.idle.notify_all();
    }
  } leave{s};
  std::vector<std::pair<int, std::vector<size_t>>> matches;
  std::vector<int> uninspected;
  // What each link text leads to: a desktop's processes hold the same few files (/dev/null,
  // their terminal, libraries), so each is stat'ed once, not once per descriptor. Texts are
  // paths in the reading process's namespace, which is ours.
  std::unordered_map<std::string, std::vector<size_t>> seen;
  std::vector<size_t> matched;
  char link[4096];
  char path[32];
  const int procFd = s.proc ? s.proc.fd() : -1;
  for (size_t i = s.next++; i < s.pids.size(); i = s.next++) {
    std::snprintf(path, sizeof path, "%d/fd", s.pids[i]);
    DirectoryNames fds(procFd, path, DirectoryNames::kFewNames);
    if (!fds) {
      // ENOTDIR: a profile's way of saying so (a live fd is always a directory).
      if (errno == EACCES || errno == EPERM || errno == ENOTDIR) uninspected.push_back(s.pids[i]);
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
      if (auto it = s.index.byPath.find(text); it != s.index.byPath.end()) {
        matched.insert(matched.end(), it->second.begin(), it->second.end());
        continue;
      }
      auto [known, added] = seen.try_emplace(std::move(text));
      if (added) {
        // By device number: the port opened under another name. A target that cannot be
        // stat'ed, such as a profile's device this machine lacks, is no port here.
        struct stat st{};
        if (::fstatat(fds.fd(), fd, &st, 0) == 0 && S_ISCHR(st.st_mode)) {
          if (auto it = s.index.byDevice.find(st.st_rdev); it != s.index.byDevice.end()) known->second = it->second;
        }
      }
      matched.insert(matched.end(), known->second.begin(), known->second.end());
    }
    if (denied && matched.empty()) uninspected.push_back(s.pids[i]);
    if (!matched.empty()) matches.emplace_back(s.pids[i], matched);
  }
  std::lock_guard lock(s.mutex);
  s.uninspected.insert(s.uninspected.end(), uninspected.begin(), uninspected.end());
  for (auto& match : matches) s.matches.push_back(std::move(match));
}

HolderScan HolderPass::result() {
  State& s = *state_;
  {
    std::unique_lock lock(s.mutex);
    s.idle.wait(lock, [&s] { return s.working == 0; });
    s.closed = true;
  }
  HolderScan result;
  result.holders.resize(s.portCount);
  result.uninspected = s.uninspected;
  std::sort(result.uninspected.begin(), result.uninspected.end());
  for (auto& [pid, matched] : s.matches) {
    std::sort(matched.begin(), matched.end());
    matched.erase(std::unique(matched.begin(), matched.end()), matched.end());
    const ProcessRef process{pid, s.holders.processName(pid).value_or("")};
    for (size_t port : matched) result.holders[port].push_back(process);
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
  // Only a regular file of its own, read without blocking: a profile's tree may put a FIFO
  // there (the report would hang), a device, or a link to any file of this machine.
  const std::string path = procRoot_ + "/" + std::to_string(pid) + "/comm";
  RegularFileRead read =
      readRegularFileFrom(posix::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW), 256);
  if (!read.ok() || read.contents.empty()) return std::nullopt;
  std::string name = std::move(read.contents);
  while (!name.empty() && (name.back() == '\n' || name.back() == '\0')) name.pop_back();
  return name;
}

}  // namespace xr

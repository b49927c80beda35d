#include "platform/SignalCleanup.h"

#include <limits.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace xr::SignalCleanup {
namespace {

enum State : int { kFree, kFilling, kReady, kRunning };
enum class Kind { Terminal, LockFile, ProcessGroup, Directory };

struct Slot {
  std::atomic<int> state{kFree};
  Kind kind = Kind::Terminal;
  int fd = -1;
  struct termios saved {};
  pid_t group = 0;
  char path[PATH_MAX] = {};
};

Slot gSlots[kSlots];
static_assert(std::atomic<int>::is_always_lock_free, "the handler may not take locks");

// Claims a free slot and fills it; it becomes visible to run() only once whole.
template <typename Fill>
int add(Kind kind, Fill fill) {
  for (int i = 0; i < kSlots; ++i) {
    int expected = kFree;
    if (gSlots[i].state.compare_exchange_strong(expected, kFilling, std::memory_order_acquire)) {
      gSlots[i].kind = kind;
      fill(gSlots[i]);
      gSlots[i].state.store(kReady, std::memory_order_release);
      return i;
    }
  }
  return -1;
}

void runKind(Kind kind) {
  for (Slot& slot : gSlots) {
    int expected = kReady;
    // A slot being withdrawn or refilled right now is left alone; one taken here stays taken
    // (the process ends after run()), unless it is of another kind.
    if (!slot.state.compare_exchange_strong(expected, kRunning, std::memory_order_acquire)) continue;
    if (slot.kind != kind) {
      slot.state.store(kReady, std::memory_order_release);
      continue;
    }
    switch (kind) {
      case Kind::Terminal:
        // Nothing waits for output to drain, which on a flow-controlled line could take for
        // ever: TCSANOW, and unsent output dropped, so that the close at exit does not wait.
        ::tcflush(slot.fd, TCIOFLUSH);
        ::tcsetattr(slot.fd, TCSANOW, &slot.saved);
        ::ioctl(slot.fd, TIOCNXCL);  // exclusive use belongs to the tty and would outlive us
        break;
      case Kind::ProcessGroup:
        ::kill(-slot.group, SIGKILL);
        break;
      case Kind::LockFile:
        ::unlink(slot.path);
        break;
      case Kind::Directory:
        ::rmdir(slot.path);
        break;
    }
  }
}

std::atomic<int> gSignalled{0};
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

[[noreturn]] void dieBy(int sig) {
  struct sigaction byDefault {};
  byDefault.sa_handler = SIG_DFL;
  ::sigaction(sig, &byDefault, nullptr);
  // Unblocked, whoever ran the handler (a sanitizer may run it later, the signal blocked).
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, sig);
  ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
  ::raise(sig);
  ::_exit(128 + sig);
}

void onSignal(int sig) {
  if (gSignalled.exchange(1) != 0) dieBy(sig);  // a second signal: no more waiting
  run();
  dieBy(sig);
}

}  // namespace

int addTerminal(int fd, const struct termios& saved) {
  return add(Kind::Terminal, [&](Slot& s) {
    s.fd = fd;
    s.saved = saved;
  });
}

namespace {
int addPath(Kind kind, const std::string& path) {
  if (path.empty() || path.size() >= PATH_MAX) return -1;
  return add(kind, [&](Slot& s) { std::memcpy(s.path, path.c_str(), path.size() + 1); });
}
}  // namespace

int addLockFile(const std::string& path) { return addPath(Kind::LockFile, path); }

int addDirectory(const std::string& path) { return addPath(Kind::Directory, path); }

int addProcessGroup(pid_t group) {
  if (group <= 1) return -1;  // never "every process" or init's group
  return add(Kind::ProcessGroup, [&](Slot& s) { s.group = group; });
}

void withdraw(int token) {
  if (token < 0 || token >= kSlots) return;
  int expected = kReady;
  // Fails only while run() has the slot, and then the process is ending anyway.
  gSlots[token].state.compare_exchange_strong(expected, kFree, std::memory_order_release);
}

void run() {
  // Lines first: they are what a user would otherwise lose for good.
  runKind(Kind::Terminal);
  runKind(Kind::ProcessGroup);
  runKind(Kind::LockFile);
  runKind(Kind::Directory);
}

bool installSignalHandlers() {
  bool ok = true;
  for (int sig : kSignals) {
    struct sigaction current {};
    if (::sigaction(sig, nullptr, &current) != 0) {
      ok = false;
      continue;
    }
    if (current.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // Not deferred: a second signal must reach the handler while the first one runs.
    action.sa_flags = SA_NODEFER | SA_RESTART;
    if (::sigaction(sig, &action, nullptr) != 0) ok = false;
  }
  return ok;
}

}  // namespace xr::SignalCleanup

#pragma once

#include <sys/types.h>
#include <termios.h>

#include <string>

namespace xr {

// What must be put right when the process is ended by a signal in the middle of a report: a
// line's settings to restore, a lock file to remove, a tool's process group to kill, an output
// directory made for the report, still empty, to remove. Owners register what they hold and
// withdraw it before they give it back themselves (restore before close, withdraw before
// unlink, before reaping the group's leader).
//
// The tables are fixed in size and lock-free, so run() may be called from a signal handler.
// A full table refuses a registration (the holder then just goes without the safety net).
namespace SignalCleanup {

constexpr int kSlots = 32;

// Each returns a token for withdraw, or -1 when the table is full.
int addTerminal(int fd, const struct termios& saved);
int addLockFile(const std::string& path);
int addProcessGroup(pid_t group);
// Removed only while empty (rmdir).
int addDirectory(const std::string& path);
// Forgets one entry; nothing for -1.
void withdraw(int token);

// Does every registered action once, in the order lines, process groups, lock files,
// directories.
// Async-signal-safe.
void run();

// SIGINT, SIGTERM and SIGHUP (each unless it is ignored, as under nohup) run the actions
// once, then end the process by the same signal (status 128+signal in a shell). A second
// signal while they run ends it at once. False when a handler could not be installed.
bool installSignalHandlers();

}  // namespace SignalCleanup

// One registration, withdrawn when it goes out of scope or on reset(). Move-only.
class CleanupEntry {
 public:
  CleanupEntry() = default;
  explicit CleanupEntry(int token) : token_(token) {}
  ~CleanupEntry() { reset(); }
  CleanupEntry(CleanupEntry&& o) noexcept : token_(o.token_) { o.token_ = -1; }
  CleanupEntry& operator=(CleanupEntry&& o) noexcept {
    if (this != &o) {
      reset();
      token_ = o.token_;
      o.token_ = -1;
    }
    return *this;
  }
  CleanupEntry(const CleanupEntry&) = delete;
  CleanupEntry& operator=(const CleanupEntry&) = delete;

  bool registered() const { return token_ >= 0; }
  void reset() {
    SignalCleanup::withdraw(token_);
    token_ = -1;
  }

 private:
  int token_ = -1;
};

}  // namespace xr

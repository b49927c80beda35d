#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace xr {

// The UUCP lock-file convention that dial-up and terminal programs share for serial devices:
// a file LCK..NAME (NAME the device's file name) in a lock directory, holding the owner's pid
// as ten right-aligned digits and a newline. A lock whose pid is alive means the device is in
// use; one of a dead process, or with no pid in it, is stale and does not count.
//
// One UUCPLock guards one device for one owner: acquire() before opening the device,
// release() (or the destructor) after closing it. Not thread-safe; one owner thread.
class UUCPLock {
 public:
  enum class Status {
    kAcquired,  // ours now; released by release() or the destructor
    kBusy,      // a live process holds it: holderPid() tells which
    kUnlocked,  // nobody holds it, but no lock file could be made (no lock directory, no
                // permission): the device may be used, unguarded
  };

  // The lock directories of this system, /var/lock and /run/lock, under the platform root;
  // only those that exist, one path per directory.
  static std::vector<std::string> defaultDirectories();

  // devicePath as the device is opened (a link such as /dev/modem counts under its own name
  // and its target's). directories: where locks are looked for; the first writable one gets ours.
  explicit UUCPLock(std::string devicePath, std::vector<std::string> directories = defaultDirectories());
  ~UUCPLock();
  UUCPLock(const UUCPLock&) = delete;
  UUCPLock& operator=(const UUCPLock&) = delete;

  Status acquire();
  // Removes the lock files this object made, unless another owner has replaced them since.
  void release();

  bool held() const { return !_held.empty(); }
  // The pid of the live owner after kBusy; 0 otherwise.
  pid_t holderPid() const { return _holder; }
  // The lock file that made the device busy after kBusy.
  const std::string& holderPath() const { return _holderPath; }
  // The lock files held now (for clean-up on an unexpected exit).
  const std::vector<std::string>& heldPaths() const { return _held; }

  // "LCK..ttyS1" for /dev/ttyS1.
  static std::string lockFileName(const std::string& deviceName);
  // The pid a lock file names when that process is alive; 0 for none, junk, a dead process or
  // no file.
  static pid_t liveOwner(const std::string& lockPath);
  // What a lock file records, alive or not: nullopt when there is no lock file, 0 when it
  // names no process (junk, or a file another program is still writing).
  static std::optional<pid_t> recordedOwner(const std::string& lockPath);

 private:
  bool take(const std::string& lockPath);

  std::vector<std::string> _names;  // device names, each locked on its own
  std::vector<std::string> _directories;
  std::vector<std::string> _held;
  pid_t _holder = 0;
  std::string _holderPath;
};

}  // namespace xr

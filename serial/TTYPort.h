#pragma once

#include <termios.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Posix.h"
#include "platform/SignalCleanup.h"
#include "serial/UUCPLock.h"

namespace xr {

class DataHandler;

// The modem's serial line: opens the tty, saves its attributes, puts it into raw 8-N-1 with
// hardware flow control, starts the data handler's read thread on it, and on close puts
// the saved attributes back. The port owns its descriptor.
// While open it is the line's only user: it holds the device's UUCP lock (a device another
// program has locked or holds in exclusive use is left alone) and the tty's exclusive mode.
class TTYPort {
 public:
  static std::shared_ptr<TTYPort> sharedTTYPort();

  // dataHandler: the handler whose read thread serves the line (the shared one by default);
  // calls: the system calls the port makes on the line.
  explicit TTYPort(std::shared_ptr<DataHandler> dataHandler = nullptr, const PosixCalls& calls = PosixCalls::system());
  ~TTYPort();  // closes the line
  TTYPort(const TTYPort&) = delete;
  TTYPort& operator=(const TTYPort&) = delete;

  // Success shows in portOpened() and inDescriptor(). Does nothing on an open port. A device
  // locked by a live process stays closed, like one that cannot be opened.
  void open();
  void close();

  void setCommonSerialOptions();
  // The four adjusters have no caller in the report: part of the port's interface, kept tested.
  void adjustPortSpeed();
  void adjustSerialOptions();
  void adjustOpenedPortSpeed(int32_t speed);
  void adjustOpenedPortSerialOptions(const std::string& options);

  const std::optional<std::string>& path() const { return _path; }
  void setPath(const std::optional<std::string>& path) { _path = path; }
  const std::optional<std::string>& serialOptions() const { return _serialOptions; }
  void setSerialOptions(const std::optional<std::string>& options) { _serialOptions = options; }
  int32_t portSpeed() const { return _portSpeed; }
  void setPortSpeed(int32_t speed) { _portSpeed = speed; }
  bool startReadMechOnOpen() const { return _startReadMechOnOpen; }
  void setStartReadMechOnOpen(bool on) { _startReadMechOnOpen = on; }
  int32_t openOptions() const { return _openOptions; }
  void setOpenOptions(int32_t flags) {
    _openOptions = flags;
    _openOptionsSpecified = true;
  }
  bool openOptionsSpecified() const { return _openOptionsSpecified; }
  bool portOpened() const { return _portOpened; }
  // Reading and attribute calls; writes go through the data handler's copy of the same
  // descriptor. Both -1 while closed.
  int inDescriptor() const { return _descriptor.get(); }
  int outDescriptor() const { return _descriptor.get(); }

  // Where UUCP locks are looked for and made; the system's lock directories under the
  // platform root (UUCPLock::defaultDirectories, taken at each open) unless set.
  void setLockDirectories(std::vector<std::string> directories) { _lockDirectories = std::move(directories); }
  // The lock files held while open, and the pid of the process whose lock kept the last
  // open from happening (0 when none did).
  std::vector<std::string> heldLockPaths() const { return _lock ? _lock->heldPaths() : std::vector<std::string>{}; }
  pid_t busyHolderPid() const { return _busyHolderPid; }
  // Whether the last open found the tty in another opener's exclusive use (and left it so).
  bool busyInExclusiveUse() const { return _busyInExclusiveUse; }

  const struct termios& originalAttributes() const { return _origAttributes; }
  const struct termios& currentAttributes() const { return _curAttributes; }
  const std::shared_ptr<DataHandler>& dataHandler() const { return _dataHandler; }

 private:
  struct termios _origAttributes{};
  struct termios _curAttributes{};
  const PosixCalls& _calls;
  FileDescriptor _descriptor;
  CleanupEntry _lineCleanup;  // the original settings, restored should a signal end the process
  std::optional<std::string> _path;
  std::optional<std::string> _serialOptions;
  int32_t _portSpeed = 0;
  bool _startReadMechOnOpen = true;
  int32_t _openOptions = 0;
  bool _openOptionsSpecified = false;
  bool _portOpened = false;
  std::shared_ptr<DataHandler> _dataHandler;
  std::optional<std::vector<std::string>> _lockDirectories;
  std::unique_ptr<UUCPLock> _lock;  // held while open
  std::vector<CleanupEntry> _lockCleanup;  // its files, removed should a signal end the process
  pid_t _busyHolderPid = 0;
  bool _busyInExclusiveUse = false;
};

// The termios speed constant for a rate in bits per second; nullopt for a rate it lacks.
std::optional<speed_t> speedConstantForBitsPerSecond(int32_t bitsPerSecond);

}  // namespace xr

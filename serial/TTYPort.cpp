#include "serial/TTYPort.h"

#include <fcntl.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>

#include "platform/Trace.h"
#include "serial/DataHandler.h"
#include "serial/DeviceElsewhere.h"

namespace xr {
namespace {
// RTS/CTS flow control in both directions. The line's DTR input flow control has no termios
// flag on Linux, so it is left out: the modem's DTR line is not used for pacing.
constexpr tcflag_t kHardwareFlowControl = CRTSCTS;

void applyFraming(struct termios* t) {
  t->c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB);
  t->c_cflag |= CS8 | CREAD | CLOCAL | kHardwareFlowControl;
}
}  // namespace

std::optional<speed_t> speedConstantForBitsPerSecond(int32_t bitsPerSecond) {
  switch (bitsPerSecond) {
    case 0: return B0;
    case 300: return B300;
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 921600: return B921600;
    default: return std::nullopt;
  }
}

std::shared_ptr<TTYPort> TTYPort::sharedTTYPort() {
  static std::shared_ptr<TTYPort> shared = std::make_shared<TTYPort>(DataHandler::sharedDataHandler());
  return shared;
}

TTYPort::TTYPort(std::shared_ptr<DataHandler> dataHandler, const PosixCalls& calls)
    : _calls(calls), _dataHandler(dataHandler ? std::move(dataHandler) : DataHandler::sharedDataHandler()) {}

TTYPort::~TTYPort() { close(); }

void TTYPort::open() {
  if (_portOpened || !_path) return;
  const std::string& path = *_path;
  _busyHolderPid = 0;
  _busyInExclusiveUse = false;
  if (deviceIsElsewhere(path)) {
    traceNote(path, ": not opened: a device of the machine this profile was captured on");
    return;
  }
  auto lock = std::make_unique<UUCPLock>(path, _lockDirectories ? *_lockDirectories : UUCPLock::defaultDirectories());
  switch (lock->acquire()) {
    case UUCPLock::Status::kBusy:
      // Another program's line: opening it would put our text into its data.
      _busyHolderPid = lock->holderPid();
      traceNote(path, ": busy: locked by pid ", std::to_string(_busyHolderPid), " (", lock->holderPath(), ")");
      return;
    case UUCPLock::Status::kUnlocked:
      traceNote(path, ": opened without a lock file (no writable lock directory)");
      break;
    case UUCPLock::Status::kAcquired:
      break;
  }
  // Should a signal end the process from here on, the lock files go with it.
  std::vector<CleanupEntry> lockCleanup;
  for (const std::string& held : lock->heldPaths()) lockCleanup.emplace_back(SignalCleanup::addLockFile(held));

  const int flags = _openOptionsSpecified ? _openOptions : (O_RDWR | O_NOCTTY | O_NONBLOCK);
  // open adds close-on-exec: a tool launched while the line is open must not hold it.
  const int fd = _calls.open(path.c_str(), flags);
  if (fd < 0) {
    traceNote(path, ": cannot open: ", std::strerror(errno));
    return;
  }
  _descriptor.reset(fd);

  // The status flags become exactly non-blocking: reads and writes on the line never block.
  const bool flagsSet = _calls.fcntl(fd, F_SETFL, O_NONBLOCK) == 0;
  const int flagsError = errno;
  const bool attributesRead = _calls.tcgetattr(fd, &_origAttributes) == 0;
  if (!flagsSet || !attributesRead) {
    traceNote(path, flagsSet ? ": cannot read the line's settings: " : ": cannot make the line non-blocking: ",
              std::strerror(flagsSet ? errno : flagsError));
    (void)_calls.close(_descriptor.release());
    _portOpened = false;
    return;
  }
  // Root opens a tty that another program holds in exclusive use all the same. That program's
  // line (a modem manager's, a GPS daemon's: they take no lock file) is left as it is: not
  // set up, not written to, and its exclusive mode kept. Not the last close, so no hang-up.
  int exclusive = 0;
  if (_calls.ioctl(fd, TIOCGEXCL, reinterpret_cast<long>(&exclusive)) == 0 && exclusive != 0) {
    _busyInExclusiveUse = true;
    traceNote(path, ": busy: in exclusive use");
    (void)_calls.close(_descriptor.release());
    return;
  }
  // Should a signal end the process while the line is open, its settings are put back.
  _lineCleanup = CleanupEntry(SignalCleanup::addTerminal(fd, _origAttributes));
  // No other opener while we talk (root excepted, as the kernel has it).
  (void)_calls.ioctl(fd, TIOCEXCL);
  _lock = std::move(lock);
  _lockCleanup = std::move(lockCleanup);
  setCommonSerialOptions();
  traceNote(path, ": opened");
  if (_startReadMechOnOpen) _dataHandler->startReadMechanismForDescriptor(fd);
  _portOpened = true;
}

void TTYPort::close() {
  // The read thread has ended when setHalt returns, so the descriptor can go.
  _dataHandler->setHalt(true);
  if (_descriptor.valid()) {
    // A send after this must write nothing, not reach whatever takes the number next.
    if (_dataHandler->descriptor() == _descriptor.get()) _dataHandler->setDescriptor(-1);
    // What we sent that the line has not taken is dropped: a UART's last close waits for its
    // output to drain (30 s by default, for ever if so set), and with CTS low it never does.
    (void)::tcflush(_descriptor.get(), TCIOFLUSH);
    (void)_calls.tcsetattr(_descriptor.get(), TCSANOW, &_origAttributes);
    // Exclusive mode belongs to the tty, not to this descriptor: it would outlive our close.
    (void)_calls.ioctl(_descriptor.get(), TIOCNXCL);
    _lineCleanup.reset();
    (void)_calls.close(_descriptor.release());
  }
  _lockCleanup.clear();  // before the lock files go: another owner may take the names next
  _lock.reset();
  _portOpened = false;
}

void TTYPort::setCommonSerialOptions() {
  _curAttributes = _origAttributes;
  applyFraming(&_curAttributes);
  _curAttributes.c_lflag &= ~static_cast<tcflag_t>(ICANON | ISIG | ECHO | ECHOE);
  // Raw input: a line at the kernel's defaults (ICRNL on) would turn every CR of a reply into
  // LF, and no reply would ever complete. Only the translations that change bytes go.
  _curAttributes.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP | PARMRK |
                                                   BRKINT | INPCK);
  _curAttributes.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  _curAttributes.c_cc[VMIN] = 1;
  _curAttributes.c_cc[VTIME] = 1;
  (void)_calls.tcsetattr(_descriptor.get(), TCSANOW, &_curAttributes);
}

void TTYPort::adjustPortSpeed() {
  // termios takes speeds as constants; a rate without one leaves the speed as it is.
  if (auto speed = speedConstantForBitsPerSecond(_portSpeed)) {
    cfsetispeed(&_curAttributes, *speed);
    cfsetospeed(&_curAttributes, *speed);
  }
  (void)_calls.tcsetattr(_descriptor.get(), TCSANOW, &_curAttributes);
}

void TTYPort::adjustSerialOptions() {
  // 8-N-1 is the only framing there is, whatever the options say.
  applyFraming(&_curAttributes);
  (void)_calls.tcsetattr(_descriptor.get(), TCSANOW, &_curAttributes);
}

void TTYPort::adjustOpenedPortSpeed(int32_t speed) {
  setPortSpeed(speed);
  adjustPortSpeed();
}

void TTYPort::adjustOpenedPortSerialOptions(const std::string& options) {
  setSerialOptions(options);
  adjustSerialOptions();
}

}  // namespace xr

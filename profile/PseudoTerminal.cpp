#include "profile/PseudoTerminal.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>

#include <cerrno>
#include <cstring>

namespace xr {

std::unique_ptr<PseudoTerminal> PseudoTerminal::open(std::string* error, LineSettings settings) {
  auto fail = [&](const char* what) -> std::unique_ptr<PseudoTerminal> {
    if (error) *error = std::string(what) + ": " + std::strerror(errno);
    return nullptr;
  };
  auto pty = std::make_unique<PseudoTerminal>(Key{});
  pty->_master.reset(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
  if (!pty->_master) return fail("posix_openpt");
  if (grantpt(pty->_master.get()) != 0 || unlockpt(pty->_master.get()) != 0) return fail("unlockpt");
  char path[128];
  if (ptsname_r(pty->_master.get(), path, sizeof path) != 0) return fail("ptsname");
  pty->_slavePath = path;
  pty->_slave.reset(posix::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK));
  if (!pty->_slave) return fail(path);
  // A modem line passes bytes as they are; a new pty would turn CRs into LFs. A real
  // /dev/ttyS* starts that way too, and the port must cope: kKernelDefault leaves it so.
  if (settings == LineSettings::kKernelDefault) return pty;
  struct termios t{};
  if (posix::tcgetattr(pty->_slave.get(), &t) != 0) return fail("tcgetattr");
  cfmakeraw(&t);
  if (posix::tcsetattr(pty->_slave.get(), TCSANOW, &t) != 0) return fail("tcsetattr");
  return pty;
}

}  // namespace xr

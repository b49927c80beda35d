#pragma once

#include <gtest/gtest.h>
#include <termios.h>

#include <sstream>
#include <string>

#include "profile/ScriptedModem.h"

namespace xr::test {

// The settings of the line at fd as its user sees them (flags, control characters and speeds),
// as text to compare; "" when fd is no terminal.
inline std::string lineSettings(int fd) {
  termios t{};
  if (::tcgetattr(fd, &t) != 0) return "";
  std::ostringstream text;
  text << std::hex << t.c_iflag << ' ' << t.c_oflag << ' ' << t.c_cflag << ' ' << t.c_lflag << ' ' << cfgetispeed(&t)
       << ' ' << cfgetospeed(&t) << " cc";
  for (cc_t c : t.c_cc) text << ' ' << unsigned{c};
  return text.str();
}

// What a report must give back, as text: descriptors, threads, child processes, registry
// handles, values and notification ports, and the scripted modem's line settings.
std::string holdings(const ScriptedModem* modem);

// Passes when the holdings are before again, waiting a little for threads that end on their
// own; the failure shows both.
::testing::AssertionResult holdingsAre(const std::string& before, const ScriptedModem* modem);

}  // namespace xr::test

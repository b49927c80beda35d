#pragma once

#include <gtest/gtest.h>
#include <termios.h>

#include <cstring>
#include <optional>
#include <set>
#include <string>

#include "platform/RegistryStore.h"
#include "profile/ScriptedModem.h"

namespace xr::test {

// The settings a line's user sees: flags, control characters and speeds.
inline bool sameLine(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
         std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 && cfgetispeed(&a) == cfgetispeed(&b) &&
         cfgetospeed(&a) == cfgetospeed(&b);
}

// What a report must give back: descriptors, threads, child processes, registry handles,
// values and notification ports, and the modem line's attributes.
struct Holdings {
  std::set<int> descriptors;
  size_t threads = 0;
  bool children = false;
  RegistryOutstanding registry;
  std::optional<termios> line;  // the scripted modem's line, when there is one

  static Holdings now(const ScriptedModem* modem);
};

// Passes when after holds what before held, waiting a little for threads that end on their
// own; the failure lists what differs.
::testing::AssertionResult sameHoldings(const Holdings& before, const ScriptedModem* modem);

}  // namespace xr::test

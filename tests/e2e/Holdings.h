#pragma once

#include <gtest/gtest.h>
#include <termios.h>

#include <optional>
#include <set>
#include <string>

#include "platform/RegistryStore.h"
#include "profile/ScriptedModem.h"

namespace xr::test {

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

#pragma once

#include <gtest/gtest.h>

#include <atomic>

#include "platform/RegistryStore.h"

namespace xr::test {

// Passes when the registry has got back every handle, value and notification port it gave.
// EXPECT_TRUE(allGivenBack(*store));
::testing::AssertionResult allGivenBack(const RegistryStore& store);

// Lists a serial stream port named name at path, as a serial driver does below itself (parent)
// or under the service root.
void listSerialPort(RegistryStore& store, const std::string& name, const std::string& path,
                    RegistryEntry* parent = nullptr);

// A registry that declines the operations a test names, as a failing platform's would.
class DecliningRegistryStore : public RegistryStore {
 public:
  void decline(RegistryOperation operation, bool on = true) {
    const unsigned bit = 1u << static_cast<unsigned>(operation);
    on ? declined_.fetch_or(bit) : declined_.fetch_and(~bit);
  }
  bool serves(RegistryOperation operation) const override {
    return !((declined_.load() >> static_cast<unsigned>(operation)) & 1u);
  }

 private:
  std::atomic<unsigned> declined_{0};
};

}  // namespace xr::test

#include "support/RegistryTesting.h"

namespace xr::test {

::testing::AssertionResult allGivenBack(const RegistryStore& store) {
  RegistryOutstanding out = store.outstanding();
  if (out == RegistryOutstanding{}) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "still out: " << describe(out);
}

void listSerialPort(RegistryStore& store, const std::string& name, const std::string& path, RegistryEntry* parent) {
  store.addEntry(parent ? parent : store.root(RegistryStore::kServicePlane), name, "HwSerialBSDClient",
                 makeDictionary({{"HwSerialBSDClientType", "HwSerialStream"},
                                 {"HwTTYDevice", name},
                                 {"HwCalloutDevice", path}}));
}

}  // namespace xr::test

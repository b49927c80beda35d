#include "support/RegistryTesting.h"

namespace xr::test {

::testing::AssertionResult allGivenBack(const RegistryStore& store) {
  RegistryOutstanding out = store.outstanding();
  if (out == RegistryOutstanding{}) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "still out: " << describe(out);
}

}  // namespace xr::test

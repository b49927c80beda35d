#pragma once

#include <gtest/gtest.h>

#include "platform/RegistryStore.h"

namespace xr::test {

// Passes when the registry has got back every handle, value and notification port it gave.
// EXPECT_TRUE(allGivenBack(*store));
::testing::AssertionResult allGivenBack(const RegistryStore& store);

}  // namespace xr::test

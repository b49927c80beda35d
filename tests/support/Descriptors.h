#pragma once

#include <set>

namespace xr::test {

// The descriptors open in this process right now (from /proc/self/fd).
std::set<int> openDescriptors();

}  // namespace xr::test

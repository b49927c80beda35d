#pragma once

#include <functional>
#include <set>
#include <string>

namespace xr::test {

// The descriptors open in this process right now (from /proc/self/fd).
std::set<int> openDescriptors();

// Reads fd until done(what was read) holds, the data ends, or nothing comes for ten seconds
// (a watchdog for a test's failure, never waited out otherwise).
std::string readUntil(int fd, const std::function<bool(const std::string&)>& done);

}  // namespace xr::test

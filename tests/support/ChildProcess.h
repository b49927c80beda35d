#pragma once

#include <functional>

namespace xr::test {

// Runs body in a child process of its own and fails the calling test when the child's test
// failed or the child died. For cases that need a fresh process (state made once per process,
// such as the plug-in's list of serial ports): every case still runs when the whole binary is
// run by hand.
void inChildProcess(const std::function<void()>& body);

}  // namespace xr::test

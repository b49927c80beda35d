#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <functional>

namespace xr::test {

// The threads of this process right now, to show that an operation ends what it started.
size_t threadCount();

// Checks cond until it holds or the deadline passes; the result of the last check. For
// states another thread reaches on its own (a thread that ends after the line drops).
bool eventually(const std::function<bool()>& cond, std::chrono::milliseconds limit = std::chrono::seconds(10));

// Neither gone nor a zombie waiting for whoever inherited it (init reaps in its own time).
bool alive(pid_t pid);

}  // namespace xr::test

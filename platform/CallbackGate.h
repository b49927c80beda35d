#pragma once

#include <algorithm>
#include <thread>
#include <vector>

namespace xr {

// The threads inside one callback right now, so that whoever takes the callback away can wait
// until no other thread runs it: once the wait is over, what the callback uses may go. The
// calling thread itself is not waited for (a callback may remove its own registration), and a
// thread appears once per nested call. The owner's mutex guards the gate; wait on the owner's
// condition variable for idleButForCaller(), and notify it after leave().
class CallbackGate {
 public:
  void enter() { threads_.push_back(std::this_thread::get_id()); }
  void leave() { threads_.erase(std::find(threads_.begin(), threads_.end(), std::this_thread::get_id())); }
  bool idleButForCaller() const {
    const auto self = std::this_thread::get_id();
    return std::all_of(threads_.begin(), threads_.end(), [&](std::thread::id t) { return t == self; });
  }

 private:
  std::vector<std::thread::id> threads_;
};

}  // namespace xr

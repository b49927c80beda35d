#pragma once

#include <pthread.h>
#include <signal.h>

#include <initializer_list>

namespace xr {

// Blocks signals in the calling thread for one scope; a thread started within the scope keeps
// them blocked for its life.
class BlockedSignals {
 public:
  // Every signal.
  BlockedSignals() {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &saved_);
  }
  explicit BlockedSignals(std::initializer_list<int> signals) {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : signals) sigaddset(&set, sig);
    pthread_sigmask(SIG_BLOCK, &set, &saved_);
  }
  ~BlockedSignals() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
  BlockedSignals(const BlockedSignals&) = delete;
  BlockedSignals& operator=(const BlockedSignals&) = delete;

  // For starting a helper thread: SIGINT, SIGTERM and SIGHUP then go to the thread that runs
  // the report, which runs the cleanup handler. A helper that took one could be about to end,
  // or (under a thread sanitizer, which defers a handler to the thread's next call into its
  // runtime) never run it.
  static BlockedSignals termination() { return BlockedSignals({SIGINT, SIGTERM, SIGHUP}); }

 private:
  sigset_t saved_;
};

}  // namespace xr

#pragma once

#include <pthread.h>
#include <signal.h>

namespace xr {

// Blocks SIGINT, SIGTERM and SIGHUP in the calling thread for one scope, so that a helper
// thread started within it never takes them: they go to the thread that runs the report, which
// runs the cleanup handler. A helper that took one could be about to end, or (under a thread
// sanitizer, which defers a handler to the thread's next call into its runtime) never run it.
class TerminationSignalsBlocked {
 public:
  TerminationSignalsBlocked() {
    sigset_t signals;
    sigemptyset(&signals);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals, sig);
    pthread_sigmask(SIG_BLOCK, &signals, &saved_);
  }
  ~TerminationSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
  TerminationSignalsBlocked(const TerminationSignalsBlocked&) = delete;
  TerminationSignalsBlocked& operator=(const TerminationSignalsBlocked&) = delete;

 private:
  sigset_t saved_;
};

}  // namespace xr

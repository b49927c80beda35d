#include "platform/SignalSource.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace xr {
namespace {

// What the handler reads; set before a handler is installed and cleared after all are gone.
std::atomic<int> gWriteFd{-1};
std::atomic<int> gBusy{0};
std::atomic<bool> gExists{false};
struct sigaction gPrevious[NSIG];

// Where the signal would have gone without us.
void forward(int sig, siginfo_t* info, void* context) {
  const struct sigaction& previous = gPrevious[sig];
  if (previous.sa_flags & SA_SIGINFO) {
    previous.sa_sigaction(sig, info, context);
  } else if (previous.sa_handler == SIG_DFL) {
    // The default action once this handler returns: the signal is blocked until then.
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(sig, &dfl, nullptr);
    raise(sig);
  } else if (previous.sa_handler != SIG_IGN) {
    previous.sa_handler(sig);
  }
}

void onSignal(int sig, siginfo_t* info, void* context) {
  const int savedErrno = errno;
  if (gBusy.load() > 0) {
    forward(sig, info, context);
  } else {
    const unsigned char byte = static_cast<unsigned char>(sig);
    ssize_t n = ::write(gWriteFd.load(), &byte, 1);  // a full pipe already holds a wake-up
    (void)n;
  }
  errno = savedErrno;
}

}  // namespace

std::unique_ptr<SignalSource> SignalSource::create(std::vector<int> signals, std::function<void(int)> received) {
  for (int sig : signals) {
    if (sig <= 0 || sig >= NSIG) return nullptr;
  }
  if (gExists.exchange(true)) return nullptr;
  FileDescriptor readEnd, writeEnd;
  if (!makePipe(&readEnd, &writeEnd) || ::fcntl(readEnd.get(), F_SETFL, O_NONBLOCK) != 0 ||
      ::fcntl(writeEnd.get(), F_SETFL, O_NONBLOCK) != 0) {
    gExists = false;
    return nullptr;
  }
  auto made = std::make_unique<SignalSource>(Key{}, std::move(signals), std::move(readEnd), std::move(writeEnd),
                                             std::move(received));
  if (!made->install()) return nullptr;  // the destructor undoes what was installed
  return made;
}

SignalSource::SignalSource(Key, std::vector<int> signals, FileDescriptor readEnd, FileDescriptor writeEnd,
                           std::function<void(int)> received)
    : signals_(std::move(signals)),
      readEnd_(std::move(readEnd)),
      writeEnd_(std::move(writeEnd)),
      received_(std::move(received)),
      source_(std::make_shared<RunLoopSource>(readEnd_.get(), [this] { drain(); })) {}

bool SignalSource::install() {
  gWriteFd = writeEnd_.get();
  for (int sig : signals_) {
    struct sigaction previous {};
    if (sigaction(sig, nullptr, &previous) != 0) return false;
    // An ignored signal (a background job of a script ignores SIGINT) stays ignored.
    if (!(previous.sa_flags & SA_SIGINFO) && previous.sa_handler == SIG_IGN) continue;
    gPrevious[sig] = previous;
    struct sigaction action {};
    action.sa_sigaction = onSignal;
    // SA_NODEFER kept from the earlier handler: it may count on a second signal reaching it.
    action.sa_flags = SA_SIGINFO | SA_RESTART | (previous.sa_flags & SA_NODEFER);
    sigemptyset(&action.sa_mask);
    if (sigaction(sig, &action, nullptr) != 0) return false;
    installed_.push_back(sig);
  }
  return true;
}

SignalSource::~SignalSource() {
  source_->invalidate();  // out of every loop before its descriptor closes
  for (int sig : installed_) sigaction(sig, &gPrevious[sig], nullptr);
  gWriteFd = -1;
  gExists = false;
}

void SignalSource::drain() {
  unsigned char buf[64];
  ssize_t n;
  while ((n = ::read(readEnd_.get(), buf, sizeof buf)) > 0) {
    for (ssize_t i = 0; i < n; ++i) {
      if (received_) received_(buf[i]);
    }
  }
}

SignalSource::Busy::Busy() { ++gBusy; }
SignalSource::Busy::~Busy() { --gBusy; }

}  // namespace xr

#include "platform/Process.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>

#include "platform/BlockedSignals.h"

extern char** environ;

namespace xr {

namespace {

void setError(std::string* error, const std::string& what, int err) {
  if (error) *error = what + ": " + std::strerror(err);
}

Process::Termination terminationFromStatus(int status) {
  Process::Termination t;
  if (WIFEXITED(status)) {
    t.exited = true;
    t.status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    t.status = WTERMSIG(status);
  }
  return t;
}

// The launch is a clone sharing our memory, suspended in us until it has called execve (what
// posix_spawn does inside), made by hand for what posix_spawn cannot give: a parent-death
// signal. The child runs on memory the parent prepared and makes raw system calls only: no
// allocation, no locks, nothing a sanitizer watches (its interceptors keep state that this
// child shares with us).
struct ChildSetup {
  const char* path;
  char* const* argv;
  char* const* envp;
  int output;     // the pipe's writing end
  int errors;     // standard error's own pipe, or -1: the output pipe
  int status;     // -1, or where the wrapping shell writes the tool's status (its fd 3)
  long maxFd;     // for closing by hand where close_range is missing
  int error = 0;  // set by the child when it could not become the tool
};

// The kernel's sigaction (not libc's, whose layout differs) on the architectures with the
// generic layout: x86-64, arm64, riscv64 and others.
struct KernelSigaction {
  void (*handler)(int);
  unsigned long flags;
  void (*restorer)();
  unsigned long mask;
};
constexpr int kKernelSignals = 64;

#define XR_RAW __attribute__((no_sanitize("address", "thread", "undefined"), noinline))

[[noreturn]] XR_RAW void childFail(ChildSetup* setup) {
  setup->error = errno ? errno : EINVAL;
  for (;;) ::syscall(SYS_exit, 127);
}

XR_RAW int childMain(void* arg) {
  auto* setup = static_cast<ChildSetup*>(arg);
  // Every signal to its default before any is unblocked: our handlers must never run here.
  KernelSigaction byDefault{SIG_DFL, 0, nullptr, 0};
  for (int sig = 1; sig <= kKernelSignals; ++sig) {
    if (sig != SIGKILL && sig != SIGSTOP) ::syscall(SYS_rt_sigaction, sig, &byDefault, nullptr, sizeof(unsigned long));
  }
  if (::syscall(SYS_setpgid, 0, 0) != 0) childFail(setup);
  // The launching thread is suspended until execve, so it cannot have died before this.
  ::syscall(SYS_prctl, PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);

  // Both pipes kept clear of the numbers they are copied to.
  constexpr int kStatusFd = STDERR_FILENO + 1;
  int output = setup->output;
  if (output <= kStatusFd) {
    output = static_cast<int>(::syscall(SYS_fcntl, output, F_DUPFD, kStatusFd + 1));
    if (output < 0) childFail(setup);
  }
  int status = setup->status;
  if (status >= 0 && status <= kStatusFd) {
    status = static_cast<int>(::syscall(SYS_fcntl, status, F_DUPFD, kStatusFd + 1));
    if (status < 0) childFail(setup);
  }
  int errors = setup->errors < 0 ? output : setup->errors;
  if (errors <= kStatusFd) {
    errors = static_cast<int>(::syscall(SYS_fcntl, errors, F_DUPFD, kStatusFd + 1));
    if (errors < 0) childFail(setup);
  }
  int null = static_cast<int>(::syscall(SYS_openat, AT_FDCWD, "/dev/null", O_RDONLY, 0));
  if (null < 0) childFail(setup);
  if (null != STDIN_FILENO && ::syscall(SYS_dup3, null, STDIN_FILENO, 0) < 0) childFail(setup);
  if (::syscall(SYS_dup3, output, STDOUT_FILENO, 0) < 0 || ::syscall(SYS_dup3, errors, STDERR_FILENO, 0) < 0)
    childFail(setup);
  int firstClosed = STDERR_FILENO + 1;
  if (status >= 0) {
    if (::syscall(SYS_dup3, status, kStatusFd, 0) < 0) childFail(setup);
    firstClosed = kStatusFd + 1;
  }
  // Everything else goes, including descriptors other code opened without close-on-exec.
  if (::syscall(SYS_close_range, firstClosed, ~0U, 0) != 0) {
    for (long fd = firstClosed; fd < setup->maxFd; ++fd) ::syscall(SYS_close, fd);
  }
  unsigned long none = 0;
  ::syscall(SYS_rt_sigprocmask, SIG_SETMASK, &none, nullptr, sizeof none);
  ::syscall(SYS_execve, setup->path, setup->argv, setup->envp);
  childFail(setup);
}

// The child's stack, mapped for the launch only.
class ChildStack {
 public:
  static constexpr size_t kSize = 64 * 1024;
  ChildStack()
      : base_(::mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0)) {}
  ~ChildStack() {
    if (valid()) ::munmap(base_, kSize);
  }
  ChildStack(const ChildStack&) = delete;
  ChildStack& operator=(const ChildStack&) = delete;
  bool valid() const { return base_ != MAP_FAILED; }
  void* top() const { return static_cast<char*>(base_) + kSize; }

 private:
  void* base_;
};

// The C library's own clone. A thread sanitizer puts one of its own in front that treats the
// child as a forked process and resets its bookkeeping there; in a child sharing our memory
// that reset is done to us.
using CloneFunction = int (*)(int (*)(void*), void*, int, void*, ...);
CloneFunction libcClone() {
  static const CloneFunction found = [] {
    void* libc = ::dlopen("libc.so.6", RTLD_LAZY | RTLD_NOLOAD);
    void* symbol = libc ? ::dlsym(libc, "clone") : nullptr;
    if (libc) ::dlclose(libc);
    return symbol ? reinterpret_cast<CloneFunction>(symbol) : &::clone;
  }();
  return found;
}

long descriptorLimit() {
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 65536;
  return static_cast<long>(std::min<rlim_t>(limit.rlim_cur, INT_MAX));
}

const char kShell[] = "/bin/sh";
// The shell's own messages ("Terminated") go nowhere; the tool, in a subshell that becomes
// it, keeps the output pipe.
const char kWrapper[] = "exec 4>&2 2>/dev/null; (exec \"$@\" 2>&4 3>&- 4>&-); echo $? >&3";

bool childrenAreReapedBySystem() {
  struct sigaction current {};
  return ::sigaction(SIGCHLD, nullptr, &current) == 0 &&
         (current.sa_handler == SIG_IGN || (current.sa_flags & SA_NOCLDWAIT) != 0);
}

// The status a wrapping shell reported ("$?": 128+N for a tool killed by signal N).
Process::Termination terminationFromShell(int statusPipe) {
  char text[16] = {};
  const ssize_t n = posix::read(statusPipe, text, sizeof text - 1);
  Process::Termination t;
  if (n <= 0 || text[0] < '0' || text[0] > '9') return t;  // the shell itself was killed
  const int code = std::atoi(text);
  if (code > 128 && code <= 128 + 64) {
    t.status = code - 128;
  } else {
    t.exited = true;
    t.status = code;
  }
  return t;
}

// Waits for the child to end without reaping it.
bool waitUnreaped(pid_t pid, int options) {
  siginfo_t info{};
  info.si_pid = 0;
  int r;
  do {
    r = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT | options);
  } while (r == -1 && errno == EINTR);
  return r == 0 && info.si_pid == pid;
}

std::mutex gInProcessMutex;
std::map<std::string, std::shared_ptr<const ScopedInProcessTool::Tool>>& inProcessTools() {
  static std::map<std::string, std::shared_ptr<const ScopedInProcessTool::Tool>> tools;
  return tools;
}
std::shared_ptr<const ScopedInProcessTool::Tool> inProcessTool(const std::string& path) {
  std::lock_guard lock(gInProcessMutex);
  auto it = inProcessTools().find(path);
  return it == inProcessTools().end() ? nullptr : it->second;
}
void setInProcessTool(const std::string& path, std::shared_ptr<const ScopedInProcessTool::Tool> tool) {
  std::lock_guard lock(gInProcessMutex);
  if (tool)
    inProcessTools()[path] = std::move(tool);
  else
    inProcessTools().erase(path);
}

// The tool's output in an anonymous file read from its start: readable at once and then at
// its end, as a pipe whose writer has finished.
std::unique_ptr<Process> runInProcess(const ScopedInProcessTool::Tool& tool, const std::vector<std::string>& args,
                                      std::string* error) {
  std::string output;
  Process::Termination ended;
  ended.exited = true;
  ended.status = tool(args, &output);
  FileDescriptor file(::memfd_create("tool-output", MFD_CLOEXEC));
  if (!file || posix::write(file.get(), output.data(), output.size()) != static_cast<ssize_t>(output.size()) ||
      ::lseek(file.get(), 0, SEEK_SET) != 0) {
    setError(error, "memfd", errno);
    return nullptr;
  }
  return std::make_unique<Process>(Process::LaunchKey(), std::move(file), ended);
}

}  // namespace

ScopedInProcessTool::ScopedInProcessTool(std::string path, Tool tool)
    : path_(std::move(path)), saved_(inProcessTool(path_)) {
  setInProcessTool(path_, std::make_shared<const Tool>(std::move(tool)));
}

ScopedInProcessTool::~ScopedInProcessTool() { setInProcessTool(path_, saved_); }

bool ScopedInProcessTool::serves(const std::string& path) { return inProcessTool(path) != nullptr; }

std::unique_ptr<Process> Process::launch(const std::string& path, const std::vector<std::string>& args,
                                         const LaunchOptions& options, std::string* error) {
  // Only a launch as the report makes it: a caller asking for an environment or standard
  // error apart wants the program itself.
  const bool asReported = !options.inheritEnvironment && options.environment.empty() && !options.separateErrors;
  if (auto tool = asReported ? inProcessTool(path) : nullptr) return runInProcess(*tool, args, error);
  FileDescriptor readEnd, writeEnd, errorsRead, errorsWrite;
  if (!makePipe(&readEnd, &writeEnd) || (options.separateErrors && !makePipe(&errorsRead, &errorsWrite))) {
    setError(error, "pipe", errno);
    return nullptr;
  }
  ChildStack stack;
  if (!stack.valid()) {
    setError(error, "mmap", errno);
    return nullptr;
  }

  // A host that ignores SIGCHLD has the kernel reap its children as they end, their status
  // lost. The tool then runs under a shell, whose own children are not ignored and which
  // hands the tool's status over a pipe.
  FileDescriptor statusRead, statusWrite;
  const bool wrapped = childrenAreReapedBySystem();
  if (wrapped && !makePipe(&statusRead, &statusWrite)) {
    setError(error, "pipe", errno);
    return nullptr;
  }
  std::vector<char*> argv;
  argv.reserve(args.size() + 6);
  if (wrapped) {
    for (const char* word : {kShell, "-c", kWrapper, "sh"}) argv.push_back(const_cast<char*>(word));
  }
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  // A fixed environment by default: the host's (LD_PRELOAD, secrets, its locale) is none of
  // the tool's.
  std::vector<std::string> environment;
  if (options.inheritEnvironment) {
    for (char** e = environ; *e; ++e) environment.emplace_back(*e);
  } else {
    environment = {kToolPath, "LC_ALL=C"};
  }
  for (const std::string& entry : options.environment) {
    const std::string name = entry.substr(0, entry.find('=') + 1);
    std::erase_if(environment, [&](const std::string& e) { return e.starts_with(name); });
    environment.push_back(entry);
  }
  std::vector<char*> envp;
  for (auto& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);

  ChildSetup setup{wrapped ? kShell : path.c_str(), argv.data(), envp.data(), writeEnd.get(),
                   errorsWrite ? errorsWrite.get() : -1, statusWrite.get(), descriptorLimit()};
  pid_t pid;
  {
    BlockedSignals blocked;  // the child starts with everything blocked, then resets handlers
    pid = libcClone()(childMain, stack.top(), CLONE_VM | CLONE_VFORK | SIGCHLD, &setup);
  }
  if (pid < 0) {
    setError(error, path, errno);
    return nullptr;
  }
  if (setup.error != 0) {
    int status;
    while (!wrapped && ::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    setError(error, path, setup.error);
    return nullptr;
  }
  writeEnd.reset();  // the child holds the only writer: end of data comes when it is done
  errorsWrite.reset();
  statusWrite.reset();
  // Unreaped, the pid cannot be reused, so the pidfd refers to our child. Without pidfds
  // (old kernels) reading simply runs to the end of data. (glibc 2.36's <sys/pidfd.h> lacks
  // C linkage for C++, hence the raw system call.)
  FileDescriptor exitWatch(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
  auto process = std::make_unique<Process>(LaunchKey(), pid, std::move(readEnd), std::move(exitWatch));
  process->statusPipe_ = std::move(statusRead);
  process->errors_ = std::move(errorsRead);
  return process;
}

std::optional<Process::Result> Process::run(const std::string& path, const std::vector<std::string>& args,
                                            const Limits& limits, std::string* error) {
  auto process = launch(path, args, error);
  if (!process) return std::nullopt;
  return process->collect(limits);
}

Process::~Process() {
  kill();
  wait();
}

Process::Result Process::collect(const Limits& limits, const PosixCalls& calls) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + limits.timeLimit;
  Result result;
  if (output_) {
    char buffer[65536];
    const int fd = output_.get();
    // Once the tool has exited, only what it left in the pipe is read.
    size_t leftAtExit = SIZE_MAX;
    while (leftAtExit > 0) {
      if (leftAtExit == SIZE_MAX) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p[2] = {{fd, POLLIN, 0}, {exitWatch_.get(), POLLIN, 0}};
        const int ready = left <= 0 ? 0 : calls.poll(p, exitWatch_ ? 2 : 1, static_cast<int>(std::min<long>(left, INT_MAX)));
        if (ready < 0) break;
        if (ready == 0) {
          result.timedOut = true;
          break;
        }
        if (exitWatch_ && p[1].revents != 0) {
          int available = 0;
          if (::ioctl(fd, FIONREAD, &available) != 0) available = 0;
          leftAtExit = static_cast<size_t>(available);
          if (leftAtExit == 0) break;
        }
      }
      const size_t room = limits.maxOutput - result.output.size() + 1;  // one byte over tells
      ssize_t n = calls.read(fd, buffer, std::min({sizeof buffer, leftAtExit, room}));
      if (n <= 0) break;
      result.output.append(buffer, static_cast<size_t>(n));
      if (result.output.size() > limits.maxOutput) {
        result.output.resize(limits.maxOutput);
        result.outputTooLarge = true;
        break;
      }
      if (leftAtExit != SIZE_MAX) leftAtExit -= static_cast<size_t>(n);
    }
    // A tool cut short is killed before its pipe closes, so it ends by our SIGKILL and never by
    // a SIGPIPE of its own write.
    if (result.timedOut || result.outputTooLarge) kill();
    output_.reset();
  }
  if (!result.timedOut && !result.outputTooLarge && !waitFor(std::chrono::ceil<std::chrono::milliseconds>(
                                                           std::max(deadline - Clock::now(), Clock::duration::zero()))))
    result.timedOut = true;
  if (result.timedOut || result.outputTooLarge) kill();
  result.termination = wait();
  return result;
}

// Reaps the child, the mutex held. Before the leader goes, what is left of its group is
// killed: while the leader is unreaped, its pid (the group's id) cannot name anyone else.
// A child someone else reaped counts as killed: its status is lost.
void Process::reapLocked() {
  ::kill(-pid_, SIGKILL);
  groupCleanup_.reset();
  if (statusPipe_) {  // the system reaped the wrapping shell; it left the tool's status
    termination_ = terminationFromShell(statusPipe_.get());
    reaped_ = true;
    return;
  }
  int status = 0;
  pid_t r;
  do {
    r = ::waitpid(pid_, &status, 0);
  } while (r == -1 && errno == EINTR);
  termination_ = r == pid_ ? terminationFromStatus(status) : Termination{};
  reaped_ = true;
}

Process::Termination Process::wait() {
  {
    std::lock_guard lock(mutex_);
    if (reaped_) return termination_;
  }
  // Wait without reaping, so terminate() on another thread never signals a reused pid.
  if (statusPipe_) {
    waitForExit(-1);
  } else {
    waitUnreaped(pid_, 0);
  }
  std::lock_guard lock(mutex_);
  if (!reaped_) reapLocked();
  return termination_;
}

std::optional<Process::Termination> Process::poll() {
  std::lock_guard lock(mutex_);
  if (reaped_) return termination_;
  if (statusPipe_ ? !waitForExit(0) : !waitUnreaped(pid_, WNOHANG)) return std::nullopt;
  reapLocked();
  return termination_;
}

// For a wrapped tool: its pidfd, or else the status pipe (written as the shell ends).
bool Process::waitForExit(int timeoutMs) {
  pollfd p{exitWatch_ ? exitWatch_.get() : statusPipe_.get(), POLLIN, 0};
  return posix::poll(&p, 1, timeoutMs) > 0;
}

bool Process::waitFor(std::chrono::milliseconds timeout) {
  {
    std::lock_guard lock(mutex_);
    if (reaped_) return true;
  }
  if (exitWatch_) {
    pollfd p{exitWatch_.get(), POLLIN, 0};
    if (posix::poll(&p, 1, static_cast<int>(std::min<long>(timeout.count(), INT_MAX))) == 0) return false;
    wait();
    return true;
  }
  // No pidfd: look now and then.
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (poll()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    ::usleep(1000);
  }
}

void Process::signal(int sig) {
  std::lock_guard lock(mutex_);
  if (reaped_) return;
  ::kill(pid_, sig);
}

void Process::terminate() { signal(SIGTERM); }

void Process::kill() {
  std::lock_guard lock(mutex_);
  if (reaped_) return;
  ::kill(-pid_, SIGKILL);
  ::kill(pid_, SIGKILL);  // the tool may have left its group
}

bool Process::running() const {
  std::lock_guard lock(mutex_);
  return !reaped_;
}

}  // namespace xr

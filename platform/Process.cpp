#include "platform/Process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

extern char** environ;

namespace xr {

namespace {

// Owners of the spawn descriptions, so every path gives them back.
struct FileActions {
  posix_spawn_file_actions_t actions;
  FileActions() { posix_spawn_file_actions_init(&actions); }
  ~FileActions() { posix_spawn_file_actions_destroy(&actions); }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;
};
struct SpawnAttributes {
  posix_spawnattr_t attributes;
  SpawnAttributes() { posix_spawnattr_init(&attributes); }
  ~SpawnAttributes() { posix_spawnattr_destroy(&attributes); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
};

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

}  // namespace

std::unique_ptr<Process> Process::launch(const std::string& path, const std::vector<std::string>& args,
                                         std::string* error) {
  FileDescriptor readEnd, writeEnd;
  if (!makePipe(&readEnd, &writeEnd)) {
    setError(error, "pipe", errno);
    return nullptr;
  }

  FileActions fa;
  SpawnAttributes sa;
  // dup2 clears close-on-exec on the copies; everything else from 3 up is closed in the child,
  // including descriptors other code opened without close-on-exec (the modem's tty).
  if (posix_spawn_file_actions_addopen(&fa.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0) != 0 ||
      posix_spawn_file_actions_adddup2(&fa.actions, writeEnd.get(), STDOUT_FILENO) != 0 ||
      posix_spawn_file_actions_adddup2(&fa.actions, writeEnd.get(), STDERR_FILENO) != 0 ||
      posix_spawn_file_actions_addclosefrom_np(&fa.actions, STDERR_FILENO + 1) != 0) {
    setError(error, "posix_spawn_file_actions", ENOMEM);
    return nullptr;
  }
  // The tool starts with default signal handling and nothing blocked, whatever this thread has.
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&sa.attributes, &all);
  posix_spawnattr_setsigmask(&sa.attributes, &none);
  posix_spawnattr_setflags(&sa.attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  std::vector<char*> argv;
  argv.reserve(args.size() + 2);
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  pid_t pid = -1;
  int err = posix_spawn(&pid, path.c_str(), &fa.actions, &sa.attributes, argv.data(), environ);
  if (err != 0) {
    setError(error, path, err);
    return nullptr;
  }
  writeEnd.reset();  // the child holds the only writer: end of data comes when it is done
  // Unreaped, the pid cannot be reused, so the pidfd refers to our child. Without pidfds
  // (old kernels) reading simply runs to the end of data. (glibc 2.36's <sys/pidfd.h> lacks
  // C linkage for C++, hence the raw system call.)
  FileDescriptor exitWatch(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
  return std::make_unique<Process>(LaunchKey(), pid, std::move(readEnd), std::move(exitWatch));
}

std::optional<Process::Result> Process::run(const std::string& path, const std::vector<std::string>& args,
                                            std::string* error) {
  auto process = launch(path, args, error);
  if (!process) return std::nullopt;
  return process->collect();
}

Process::~Process() {
  signal(SIGKILL);
  wait();
}

Process::Result Process::collect() {
  Result result;
  if (output_) {
    char buffer[65536];
    const int fd = output_.get();
    // Once the tool has exited, only what it left in the pipe is read.
    size_t leftAtExit = SIZE_MAX;
    while (leftAtExit > 0) {
      if (leftAtExit == SIZE_MAX && exitWatch_) {
        pollfd p[2] = {{fd, POLLIN, 0}, {exitWatch_.get(), POLLIN, 0}};
        if (posix::poll(p, 2, -1) < 0) break;
        if (p[1].revents != 0) {
          int available = 0;
          if (::ioctl(fd, FIONREAD, &available) != 0) available = 0;
          leftAtExit = static_cast<size_t>(available);
          if (leftAtExit == 0) break;
        }
      }
      ssize_t n = posix::read(fd, buffer, std::min(sizeof buffer, leftAtExit));
      if (n <= 0) break;
      result.output.append(buffer, static_cast<size_t>(n));
      if (leftAtExit != SIZE_MAX) leftAtExit -= static_cast<size_t>(n);
    }
    output_.reset();
  }
  result.termination = wait();
  return result;
}

// Reaps the child, the mutex held. A child someone else reaped (SIGCHLD ignored by the host)
// counts as killed: its status is lost.
void Process::reapLocked() {
  int status = 0;
  pid_t r;
  do {
    r = waitpid(pid_, &status, 0);
  } while (r == -1 && errno == EINTR);
  termination_ = r == pid_ ? terminationFromStatus(status) : Termination{};
  reaped_ = true;
  exitWatch_.reset();
}

Process::Termination Process::wait() {
  {
    std::lock_guard lock(mutex_);
    if (reaped_) return termination_;
  }
  // Wait without reaping, so terminate() on another thread never signals a reused pid.
  siginfo_t info{};
  while (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT) == -1 && errno == EINTR) {
  }
  std::lock_guard lock(mutex_);
  if (!reaped_) reapLocked();
  return termination_;
}

std::optional<Process::Termination> Process::poll() {
  std::lock_guard lock(mutex_);
  if (reaped_) return termination_;
  siginfo_t info{};
  info.si_pid = 0;
  if (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0) {
    return std::nullopt;
  }
  reapLocked();
  return termination_;
}

void Process::signal(int sig) {
  std::lock_guard lock(mutex_);
  if (!reaped_) ::kill(pid_, sig);
}

void Process::terminate() { signal(SIGTERM); }
void Process::kill() { signal(SIGKILL); }

bool Process::running() const {
  std::lock_guard lock(mutex_);
  return !reaped_;
}

}  // namespace xr

#include "platform/Posix.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace xr {
namespace {
int realOpen(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
int realFcntl(int fd, int cmd, long arg) { return ::fcntl(fd, cmd, arg); }
int realPoll(struct pollfd* fds, unsigned long nfds, int timeoutMs) {
  return ::poll(fds, static_cast<nfds_t>(nfds), timeoutMs);
}
int realIoctl(int fd, unsigned long request, long arg) { return ::ioctl(fd, request, arg); }

int realOpenat2(int dirFd, const char* path, int flags, unsigned long long resolve) {
  struct open_how how {};
  how.flags = static_cast<unsigned long long>(flags);
  how.resolve = resolve;
  return static_cast<int>(::syscall(SYS_openat2, dirFd, path, &how, sizeof how));
}

template <typename F>
auto retry(F f) {
  decltype(f()) r;
  do {
    r = f();
  } while (r == -1 && errno == EINTR);
  return r;
}
}  // namespace

PosixCalls& posixCalls() {
  static PosixCalls calls{realOpen, ::close, ::read, ::write, realFcntl, ::tcgetattr, ::tcsetattr, realPoll,
                           ::tcflush, realIoctl, realOpenat2};
  return calls;
}

namespace posix {
int open(const char* path, int flags, mode_t mode) {
  return retry([&] { return posixCalls().open(path, flags | O_CLOEXEC, mode); });
}
// close is not retried: on Linux the descriptor is gone even when EINTR is reported.
int close(int fd) { return posixCalls().close(fd); }
ssize_t read(int fd, void* buf, size_t n) { return retry([&] { return posixCalls().read(fd, buf, n); }); }
ssize_t write(int fd, const void* buf, size_t n) {
  return retry([&] { return posixCalls().write(fd, buf, n); });
}
int fcntl(int fd, int cmd, long arg) { return retry([&] { return posixCalls().fcntl(fd, cmd, arg); }); }
int tcgetattr(int fd, struct termios* t) { return retry([&] { return posixCalls().tcgetattr(fd, t); }); }
int tcsetattr(int fd, int actions, const struct termios* t) {
  return retry([&] { return posixCalls().tcsetattr(fd, actions, t); });
}
int poll(struct pollfd* fds, unsigned long nfds, int timeoutMs) {
  return retry([&] { return posixCalls().poll(fds, nfds, timeoutMs); });
}
int tcflush(int fd, int queue) { return retry([&] { return posixCalls().tcflush(fd, queue); }); }
int ioctl(int fd, unsigned long request, long arg) {
  return retry([&] { return posixCalls().ioctl(fd, request, arg); });
}
int openat2(int dirFd, const char* path, int flags, unsigned long long resolve) {
  return retry([&] { return posixCalls().openat2(dirFd, path, flags | O_CLOEXEC, resolve); });
}
}  // namespace posix

bool makePipe(FileDescriptor* readEnd, FileDescriptor* writeEnd) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  readEnd->reset(fds[0]);
  writeEnd->reset(fds[1]);
  return true;
}

}  // namespace xr

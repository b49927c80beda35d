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

const PosixCalls& PosixCalls::system() {
  static const PosixCalls calls(Table{realOpen, ::close, ::read, ::write, realFcntl, ::tcgetattr, ::tcsetattr,
                                      realPoll, ::tcflush, realIoctl, realOpenat2});
  return calls;
}

int PosixCalls::open(const char* path, int flags, mode_t mode) const {
  return retry([&] { return table_.open(path, flags | O_CLOEXEC, mode); });
}
// close is not retried: on Linux the descriptor is gone even when EINTR is reported.
int PosixCalls::close(int fd) const { return table_.close(fd); }
ssize_t PosixCalls::read(int fd, void* buf, size_t n) const { return retry([&] { return table_.read(fd, buf, n); }); }
ssize_t PosixCalls::write(int fd, const void* buf, size_t n) const {
  return retry([&] { return table_.write(fd, buf, n); });
}
int PosixCalls::fcntl(int fd, int cmd, long arg) const { return retry([&] { return table_.fcntl(fd, cmd, arg); }); }
int PosixCalls::tcgetattr(int fd, struct termios* t) const { return retry([&] { return table_.tcgetattr(fd, t); }); }
int PosixCalls::tcsetattr(int fd, int actions, const struct termios* t) const {
  return retry([&] { return table_.tcsetattr(fd, actions, t); });
}
int PosixCalls::poll(struct pollfd* fds, unsigned long nfds, int timeoutMs) const {
  return retry([&] { return table_.poll(fds, nfds, timeoutMs); });
}
int PosixCalls::tcflush(int fd, int queue) const { return retry([&] { return table_.tcflush(fd, queue); }); }
int PosixCalls::ioctl(int fd, unsigned long request, long arg) const {
  return retry([&] { return table_.ioctl(fd, request, arg); });
}
int PosixCalls::openat2(int dirFd, const char* path, int flags, unsigned long long resolve) const {
  return retry([&] { return table_.openat2(dirFd, path, flags | O_CLOEXEC, resolve); });
}

bool makePipe(FileDescriptor* readEnd, FileDescriptor* writeEnd) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  readEnd->reset(fds[0]);
  writeEnd->reset(fds[1]);
  return true;
}

}  // namespace xr

#pragma once

#include <poll.h>
#include <sys/select.h>
#include <sys/types.h>
#include <termios.h>

#include <utility>

namespace xr {

// The one seam through which the platform and serial layers make system calls. Each wrapper
// retries EINTR (close excepted) and returns what the call returns, errno set as usual.
// Tests replace entries of the table to make calls fail on demand.
struct PosixCalls {
  int (*open)(const char* path, int flags, mode_t mode);
  int (*close)(int fd);
  ssize_t (*read)(int fd, void* buf, size_t n);
  ssize_t (*write)(int fd, const void* buf, size_t n);
  int (*fcntl)(int fd, int cmd, long arg);
  int (*tcgetattr)(int fd, struct termios* t);
  int (*tcsetattr)(int fd, int actions, const struct termios* t);
  int (*poll)(struct pollfd* fds, unsigned long nfds, int timeoutMs);
  int (*tcflush)(int fd, int queue);
  int (*ioctl)(int fd, unsigned long request, long arg);
  // openat2(2) with how.resolve set; ENOSYS on kernels before 5.6.
  int (*openat2)(int dirFd, const char* path, int flags, unsigned long long resolve);
};
PosixCalls& posixCalls();

// Restores the real calls when a test's override goes out of scope.
class ScopedPosixCalls {
 public:
  ScopedPosixCalls() : saved_(posixCalls()) {}
  ~ScopedPosixCalls() { posixCalls() = saved_; }
  ScopedPosixCalls(const ScopedPosixCalls&) = delete;
  ScopedPosixCalls& operator=(const ScopedPosixCalls&) = delete;

 private:
  PosixCalls saved_;
};

namespace posix {
int open(const char* path, int flags, mode_t mode = 0);
int close(int fd);
ssize_t read(int fd, void* buf, size_t n);
ssize_t write(int fd, const void* buf, size_t n);
int fcntl(int fd, int cmd, long arg = 0);
int tcgetattr(int fd, struct termios* t);
int tcsetattr(int fd, int actions, const struct termios* t);
int poll(struct pollfd* fds, unsigned long nfds, int timeoutMs);
int tcflush(int fd, int queue);
int ioctl(int fd, unsigned long request, long arg = 0);
int openat2(int dirFd, const char* path, int flags, unsigned long long resolve);
}  // namespace posix

// Owns one descriptor; closes it once. Move-only; the destructor never throws.
class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() { reset(); }
  FileDescriptor(FileDescriptor&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
  FileDescriptor& operator=(FileDescriptor&& o) noexcept {
    if (this != &o) {
      reset();
      fd_ = std::exchange(o.fd_, -1);
    }
    return *this;
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  explicit operator bool() const { return valid(); }
  int release() { return std::exchange(fd_, -1); }
  void reset(int fd = -1) {
    if (fd_ >= 0) posix::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// A pipe whose both ends are close-on-exec.
bool makePipe(FileDescriptor* readEnd, FileDescriptor* writeEnd);

}  // namespace xr

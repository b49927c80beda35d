#pragma once

#include <poll.h>
#include <sys/select.h>
#include <sys/types.h>
#include <termios.h>

#include <utility>

namespace xr {

// The system calls the platform and serial layers make, each retried on EINTR (close
// excepted). An object that makes them is handed the calls it uses, the system's by default,
// the way a storage engine is handed its environment: a test hands in calls that fail.
class PosixCalls {
 public:
  struct Table {
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
  // The system's own calls.
  static const PosixCalls& system();

  explicit PosixCalls(const Table& table) : table_(table) {}
  const Table& table() const { return table_; }

  // open adds close-on-exec: no descriptor of ours reaches a tool we launch.
  int open(const char* path, int flags, mode_t mode = 0) const;
  int close(int fd) const;
  ssize_t read(int fd, void* buf, size_t n) const;
  ssize_t write(int fd, const void* buf, size_t n) const;
  int fcntl(int fd, int cmd, long arg = 0) const;
  int tcgetattr(int fd, struct termios* t) const;
  int tcsetattr(int fd, int actions, const struct termios* t) const;
  int poll(struct pollfd* fds, unsigned long nfds, int timeoutMs) const;
  int tcflush(int fd, int queue) const;
  int ioctl(int fd, unsigned long request, long arg = 0) const;
  // Adds close-on-exec too.
  int openat2(int dirFd, const char* path, int flags, unsigned long long resolve) const;

 private:
  Table table_;
};

// The system's calls, for code that is handed none.
namespace posix {
inline int open(const char* path, int flags, mode_t mode = 0) { return PosixCalls::system().open(path, flags, mode); }
inline int close(int fd) { return PosixCalls::system().close(fd); }
inline ssize_t read(int fd, void* buf, size_t n) { return PosixCalls::system().read(fd, buf, n); }
inline ssize_t write(int fd, const void* buf, size_t n) { return PosixCalls::system().write(fd, buf, n); }
inline int fcntl(int fd, int cmd, long arg = 0) { return PosixCalls::system().fcntl(fd, cmd, arg); }
inline int tcgetattr(int fd, struct termios* t) { return PosixCalls::system().tcgetattr(fd, t); }
inline int tcsetattr(int fd, int actions, const struct termios* t) {
  return PosixCalls::system().tcsetattr(fd, actions, t);
}
inline int poll(struct pollfd* fds, unsigned long nfds, int timeoutMs) {
  return PosixCalls::system().poll(fds, nfds, timeoutMs);
}
inline int tcflush(int fd, int queue) { return PosixCalls::system().tcflush(fd, queue); }
inline int ioctl(int fd, unsigned long request, long arg = 0) { return PosixCalls::system().ioctl(fd, request, arg); }
inline int openat2(int dirFd, const char* path, int flags, unsigned long long resolve) {
  return PosixCalls::system().openat2(dirFd, path, flags, resolve);
}
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

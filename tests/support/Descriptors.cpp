#include "support/Descriptors.h"

#include <dirent.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace xr::test {

std::set<int> openDescriptors() {
  std::set<int> fds;
  DIR* dir = ::opendir("/proc/self/fd");
  if (!dir) return fds;
  const int own = ::dirfd(dir);
  while (const dirent* e = ::readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    int fd = std::atoi(e->d_name);
    if (fd != own) fds.insert(fd);
  }
  ::closedir(dir);
  return fds;
}

std::string readUntil(int fd, const std::function<bool(const std::string&)>& done) {
  std::string got;
  char buffer[256];
  for (pollfd p{fd, POLLIN, 0}; !done(got) && ::poll(&p, 1, 10000) == 1;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      got.append(buffer, static_cast<size_t>(n));
    } else if (n == 0 || errno != EAGAIN) {
      break;
    }
  }
  return got;
}

}  // namespace xr::test

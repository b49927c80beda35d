#include "platform/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/PlatformRoot.h"
#include "platform/Posix.h"

namespace xr {
namespace {
// O_NONBLOCK: a FIFO opens at once instead of waiting for a writer. O_NOCTTY: a terminal at
// the path is not made ours.
constexpr int kReadFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY;
}  // namespace

std::string RegularFileRead::describe(size_t maxBytes) const {
  switch (fault) {
    case Fault::None: return "";
    case Fault::NotRegular: return "not a regular file";
    case Fault::TooLarge: return "larger than " + std::to_string(maxBytes) + " bytes";
    case Fault::Missing:
    case Fault::Unreadable: return std::strerror(error);
  }
  return "";
}

RegularFileRead readRegularFileFrom(int fd, size_t maxBytes) {
  RegularFileRead result;
  FileDescriptor file(fd);
  if (!file) {
    result.error = errno;
    result.fault = errno == ENOENT || errno == ENOTDIR ? RegularFileRead::Fault::Missing
                                                        : RegularFileRead::Fault::Unreadable;
    return result;
  }
  struct stat st {};
  if (::fstat(file.get(), &st) != 0) {
    result.error = errno;
    result.fault = RegularFileRead::Fault::Unreadable;
    return result;
  }
  if (!S_ISREG(st.st_mode)) {
    result.fault = RegularFileRead::Fault::NotRegular;
    return result;
  }
  if (static_cast<uint64_t>(st.st_size) > maxBytes) {
    result.fault = RegularFileRead::Fault::TooLarge;
    return result;
  }
  // The file may change while it is read: read to its end, but never past the bound. Files of
  // /proc say size 0: a page at once saves them a read.
  result.contents.resize(std::min(maxBytes + 1, std::max<size_t>(static_cast<size_t>(st.st_size) + 1, 4096)));
  size_t done = 0;
  for (;;) {
    if (done == result.contents.size()) {
      if (done > maxBytes) {
        result.contents.clear();
        result.fault = RegularFileRead::Fault::TooLarge;
        return result;
      }
      result.contents.resize(std::min(maxBytes + 1, done * 2 + 4096));
    }
    const ssize_t n = posix::read(file.get(), result.contents.data() + done, result.contents.size() - done);
    if (n < 0) {
      result.error = errno;
      result.fault = RegularFileRead::Fault::Unreadable;
      result.contents.clear();
      return result;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  result.contents.resize(done);
  return result;
}

RegularFileRead readRegularFile(const std::string& path, size_t maxBytes) {
  // Looked at before it is opened: opening a serial device raises its DTR line.
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    RegularFileRead result;
    result.fault = RegularFileRead::Fault::NotRegular;
    return result;
  }
  return readRegularFileFrom(posix::open(path.c_str(), kReadFlags), maxBytes);
}

RegularFileRead readRegularFileUnderPlatformRoot(std::string_view absolutePath, size_t maxBytes) {
  // Looked at before it is opened, as above, through the same confined walk: an O_PATH
  // descriptor opens nothing (a profile may hold a device node).
  const FileDescriptor found(openUnderPlatformRoot(absolutePath, O_PATH));
  if (!found) return readRegularFileFrom(-1, maxBytes);
  struct stat st {};
  if (::fstat(found.get(), &st) == 0 && !S_ISREG(st.st_mode)) {
    RegularFileRead result;
    result.fault = RegularFileRead::Fault::NotRegular;
    return result;
  }
  return readRegularFileFrom(openUnderPlatformRoot(absolutePath, kReadFlags), maxBytes);
}

}  // namespace xr

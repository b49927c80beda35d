#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace xr {

// Reading the files the system takes from outside (preferences, bundle information, resources,
// machine profiles): opened without blocking and without becoming a controlling terminal,
// read only when they are regular files of bounded size. A FIFO, a device or a directory at
// such a path is never read from.
struct RegularFileRead {
  enum class Fault { None, Missing, NotRegular, TooLarge, Unreadable };
  Fault fault = Fault::None;
  int error = 0;  // errno for Missing and Unreadable
  std::string contents;

  bool ok() const { return fault == Fault::None; }
  // "not a regular file", "larger than N bytes", the system's error text; "" when ok.
  std::string describe(size_t maxBytes) const;
};

// The path is used as given.
RegularFileRead readRegularFile(const std::string& path, size_t maxBytes);
// An absolute path under the platform root, resolved inside it (openUnderPlatformRoot).
RegularFileRead readRegularFileUnderPlatformRoot(std::string_view absolutePath, size_t maxBytes);
// From a descriptor opened for reading (-1 with errno set when the open failed); takes it.
RegularFileRead readRegularFileFrom(int fd, size_t maxBytes);

}  // namespace xr

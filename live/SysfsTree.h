#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Data.h"

namespace xr {

// Reads a system tree (sysfs, /dev, the device tree) under a root directory: "/" for this
// machine, a test directory for a fake one. Paths are given as the system names them
// ("/sys/class/tty"); every read is bounded and a missing or vanished file is simply absent.
class SysfsTree {
 public:
  static constexpr size_t kAttributeLimit = 4096;      // a sysfs attribute is at most a page
  static constexpr size_t kPropertyLimit = 64 * 1024;  // a device-tree property
  static constexpr int kMaxLinkHops = 8;

  explicit SysfsTree(std::string root = "/");

  const std::string& root() const { return root_; }
  // The path on disk of a system path.
  std::string at(std::string_view systemPath) const;

  // A regular file's bytes; nullopt when missing, unreadable, not a regular file or longer
  // than limit (a truncated value would be a wrong one).
  std::optional<Data> bytes(std::string_view systemPath, size_t limit) const;
  // A sysfs attribute as text, its trailing newline trimmed.
  std::optional<std::string> attribute(std::string_view systemPath) const;

  // Where a chain of symbolic links starting at systemPath ends, as a normalised system path
  // (absolute targets taken under the root). systemPath itself when it is not a link; nullopt
  // when the chain is longer than kMaxLinkHops (a loop) or a target cannot be read.
  // Directories on the way are taken as they are, which holds for sysfs.
  std::optional<std::string> follow(std::string_view systemPath) const;
  // Where the one link at systemPath points, normalised; nullopt when it is not a link.
  std::optional<std::string> linkTarget(std::string_view systemPath) const;
  // The last component of where the link at systemPath points ("cdc_acm" for driver/module),
  // without following the target further: sysfs names a subsystem or module this way.
  std::optional<std::string> linkName(std::string_view systemPath) const;

  // The names in a directory (no "." or ".."), in natural order ("tty2" before "tty10");
  // empty when it cannot be read. Those skip() is true for are left out before the sort.
  std::vector<std::string> list(std::string_view systemPath, bool (*skip)(std::string_view name) = nullptr) const;
  // The directories and regular files of a directory, each in natural order (device tree).
  void listNodes(std::string_view systemPath, std::vector<std::string>* directories,
                 std::vector<std::string>* files) const;

  // The device number of the character device at systemPath, following links as follow()
  // does; nullopt when it is not one.
  std::optional<dev_t> characterDevice(std::string_view systemPath) const;

 private:
  std::string root_;  // no trailing slash; empty for "/"
};

// "/a/b/../c/./d" is "/a/c/d".
std::string normalizePath(std::string_view path);
// "/a/b/c" is "/a/b"; "/" stays "/".
std::string parentPath(std::string_view path);
// "/a/b/c" is "c".
std::string_view baseName(std::string_view path);

}  // namespace xr

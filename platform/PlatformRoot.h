#pragma once

#include <string>
#include <string_view>

namespace xr {

// Every fixed absolute path the system names ("/var/db/modem.prefs", "/usr/sbin/lsof", driver
// bundles...) is resolved under the platform root, "/" by default. A machine profile sets it
// to its root/ directory. Device paths that come from the registry are used as they are (a
// port a captured profile marks as another machine's is not opened at all:
// serial/DeviceElsewhere.h).
std::string platformRoot();
void setPlatformRoot(std::string root);

// "/usr/sbin/lsof" under root "/tmp/m/root" is "/tmp/m/root/usr/sbin/lsof".
std::string resolvePath(std::string_view absolutePath);

// On a system whose tools live elsewhere than the fixed paths say (this Linux machine), the
// host maps a fixed path to the real file: resolvePath then gives that file, whatever the
// root. An empty actual path removes the mapping. Machine profiles use none, but for the
// driver-listing tool of a Linux machine's profile (live/KernelDriverListing.h).
void mapFixedPath(const std::string& fixedPath, std::string actualPath);

// True when a file or directory exists at the path (used as given), following a symbolic
// link at its end.
bool fileExistsAtPath(const std::string& path);

// Opens absolutePath under the platform root (flags get O_CLOEXEC). Every link on the way is
// resolved inside the root: an absolute link means the root's own "/", and ".." stops at the
// root, so nothing a profile holds leads out of it. A mapped path is opened as it is. -1 with
// errno when it cannot be opened.
int openUnderPlatformRoot(std::string_view absolutePath, int flags);

// Sets the root for one scope (tests).
class ScopedPlatformRoot {
 public:
  explicit ScopedPlatformRoot(std::string root) : saved_(platformRoot()) { setPlatformRoot(std::move(root)); }
  ~ScopedPlatformRoot() { setPlatformRoot(saved_); }
  ScopedPlatformRoot(const ScopedPlatformRoot&) = delete;
  ScopedPlatformRoot& operator=(const ScopedPlatformRoot&) = delete;

 private:
  std::string saved_;
};

// Maps a fixed path for one scope and puts the previous mapping back.
class ScopedFixedPath {
 public:
  ScopedFixedPath(std::string fixedPath, std::string actualPath);
  ~ScopedFixedPath();
  ScopedFixedPath(const ScopedFixedPath&) = delete;
  ScopedFixedPath& operator=(const ScopedFixedPath&) = delete;

 private:
  std::string fixedPath_;
  std::string saved_;
};

}  // namespace xr

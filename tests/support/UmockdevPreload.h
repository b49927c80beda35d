#pragma once

#include <umockdev.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace xr::test {

// umockdev redirects /sys, /dev and the udev netlink socket through its preload library, which
// must be loaded when the program starts. Called first thing in main: without the library the
// program runs itself again with it (and with ASan's check of the library order off, since the
// preload library then comes before the sanitizer's runtime). Returns when it is loaded, or
// when it would not load (umockdev_in_mock_environment() then tells, once a testbed exists).
// The environment is looked at, not umockdev_in_mock_environment(): that one keeps its first
// answer, which is "no" until a testbed has been made.
inline void reexecUnderUmockdev(char** argv) {
  const char* preload = std::getenv("LD_PRELOAD");
  if (preload && std::strstr(preload, "libumockdev-preload")) return;
  if (std::getenv("XR_UMOCKDEV_REEXEC")) return;  // the library would not load: run and fail
  std::string libraries = "libumockdev-preload.so.0";
  if (preload && *preload) libraries += std::string(":") + preload;
  const char* asan = std::getenv("ASAN_OPTIONS");
  std::string asanOptions = std::string(asan && *asan ? std::string(asan) + ":" : "") + "verify_asan_link_order=0";
  ::setenv("LD_PRELOAD", libraries.c_str(), 1);
  ::setenv("ASAN_OPTIONS", asanOptions.c_str(), 1);
  ::setenv("XR_UMOCKDEV_REEXEC", "1", 1);
  ::execv("/proc/self/exe", argv);
}

}  // namespace xr::test

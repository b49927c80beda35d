#pragma once

#include <memory>
#include <string>

#include "platform/PlatformRoot.h"
#include "platform/Process.h"

namespace xr {

// The driver-listing tool's fixed path led to our lister, its work done in process from the
// kernel's files under a system root: "/" for this machine, root/ for the profile of a Linux
// machine. Launching it would cost 2-4 ms of a report of a few; its work is a short read of
// /proc/modules and /sys/module (the program stays, for users). Destroying it gives the path
// and the tool back.
class KernelDriverListing {
 public:
  // Nothing (null) when the tool is not in toolDirectory.
  static std::unique_ptr<KernelDriverListing> serve(const std::string& toolDirectory, std::string systemRoot);

  // A Linux machine's profile root: the kernel's module files ("proc/modules" or "sys/module")
  // and no driver-listing tool of its own, which would speak for the machine instead.
  static bool describedBy(const std::string& profileRoot);

  KernelDriverListing(std::string lister, std::string systemRoot);
  KernelDriverListing(const KernelDriverListing&) = delete;
  KernelDriverListing& operator=(const KernelDriverListing&) = delete;

 private:
  ScopedFixedPath path_;
  ScopedInProcessTool tool_;
};

}  // namespace xr

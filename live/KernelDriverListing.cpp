#include "live/KernelDriverListing.h"

#include <unistd.h>

#include "live/LiveMachine.h"
#include "tools/xrdrvxstat/DriverListing.h"

namespace xr {

std::unique_ptr<KernelDriverListing> KernelDriverListing::serve(const std::string& toolDirectory,
                                                                std::string systemRoot) {
  const std::string lister = toolDirectory + "/" + LiveMachine::kDriverListingTool;
  if (toolDirectory.empty() || ::access(lister.c_str(), X_OK) != 0) return nullptr;
  return std::make_unique<KernelDriverListing>(lister, std::move(systemRoot));
}

bool KernelDriverListing::describedBy(const std::string& profileRoot) {
  return !fileExistsAtPath(profileRoot + "/usr/sbin/drvxstat") &&
         (fileExistsAtPath(profileRoot + "/proc/modules") || fileExistsAtPath(profileRoot + "/sys/module"));
}

KernelDriverListing::KernelDriverListing(std::string lister, std::string systemRoot)
    : path_("/usr/sbin/drvxstat", lister),
      tool_(lister, [root = std::move(systemRoot)](const std::vector<std::string>& args, std::string* output) {
        return listDrivers(args, root, output);
      }) {}

}  // namespace xr

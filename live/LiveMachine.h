#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "live/KernelDriverListing.h"
#include "live/LiveRegistry.h"
#include "platform/PlatformRoot.h"
#include "platform/Process.h"
#include "platform/RegistryStore.h"

namespace xr {

class LiveRegistryFeed;

// This machine, reported on when no machine profile is given: the registry built from sysfs
// is installed, and the fixed tool paths lead to what does their work on Linux (our
// driver-listing tool, served in process, and the system's lsof). Destroying it gives all of
// that back.
class LiveMachine {
 public:
  struct Options {
    std::string systemRoot = "/";     // where sys/, dev/, proc/ and the lock directories are
    std::string toolDirectory;        // where our driver-listing tool is; empty: none
    std::string familyTablePath;      // the USB modem family table; empty or missing: empty table
    bool followDeviceChanges = true;  // arrivals and removals reach the registry (a watch); off: a snapshot
  };

  // The options xrreport uses: the tool and the family table beside the executable or in
  // the installed directories, the system root from XRREPORT_SYSTEM_ROOT (tests) or "/".
  static Options defaults(const std::string& executableDirectory);
  // Only defaults' toolDirectory, for a Linux machine's profile, which lists its drivers with it.
  static std::string toolDirectory(const std::string& executableDirectory);

  // nullptr and a one-line message when the family table is unusable.
  static std::unique_ptr<LiveMachine> open(const Options& options, std::string* error);

  LiveRegistry& registry() { return *registry_; }
  const Options& options() const { return options_; }
  // Why arrivals cannot be followed although they were asked for (no libudev, no netlink
  // socket in a sandbox); empty when they are followed or were not asked for.
  const std::string& deviceChangesMissed() const { return deviceChangesMissed_; }

  ~LiveMachine();
  LiveMachine(const LiveMachine&) = delete;
  LiveMachine& operator=(const LiveMachine&) = delete;

  // The name of the driver-listing tool, in the tool directory.
  static constexpr const char* kDriverListingTool = "xrdrvxstat";

 private:
  struct Key {};

 public:
  LiveMachine(Key, Options options, std::unique_ptr<LiveRegistry> registry);

 private:
  Options options_;
  std::unique_ptr<LiveRegistry> registry_;
  std::shared_ptr<LiveRegistryFeed> feed_;  // on the store, which may outlive the machine
  std::optional<ScopedRegistry> installed_;
  std::vector<std::unique_ptr<ScopedFixedPath>> paths_;
  std::unique_ptr<KernelDriverListing> driverListing_;
  std::string deviceChangesMissed_;
};

}  // namespace xr

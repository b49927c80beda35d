#include "live/LiveMachine.h"

#include "live/LiveRegistryFeed.h"
#include "live/UdevMonitor.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace xr {
namespace {

const char kFamilyTable[] = "usb-modem-family.json";

bool executable(const std::string& path) { return !path.empty() && ::access(path.c_str(), X_OK) == 0; }

// An installed directory, by its path from bin/, from the executable's directory.
std::string fromExecutable(const std::string& executableDirectory, const char* fromBinDir) {
  return (std::filesystem::path(executableDirectory) / fromBinDir).lexically_normal().string();
}

// The first of the candidates that exists, else the first.
std::string firstExisting(const std::vector<std::string>& candidates) {
  for (const std::string& c : candidates) {
    if (fileExistsAtPath(c)) return c;
  }
  return candidates.front();
}

}  // namespace

// The build tree has everything beside xrreport; an installed one has the helper programs and
// the data files in the directories the build was configured with (cmake/XrInstall.cmake).
std::string LiveMachine::toolDirectory(const std::string& executableDirectory) {
  for (const std::string& dir : {executableDirectory, fromExecutable(executableDirectory, XR_LIBEXECDIR_FROM_BINDIR)}) {
    if (executable(dir + "/" + kDriverListingTool)) return dir;
  }
  return "";
}

LiveMachine::Options LiveMachine::defaults(const std::string& executableDirectory) {
  Options options;
  if (const char* root = std::getenv("XRREPORT_SYSTEM_ROOT"); root && *root) options.systemRoot = root;
  options.toolDirectory = toolDirectory(executableDirectory);
  const std::string installedData = fromExecutable(executableDirectory, XR_DATADIR_FROM_BINDIR);
  options.familyTablePath =
      firstExisting({executableDirectory + "/" + kFamilyTable, installedData + "/" + kFamilyTable});
  return options;
}

LiveMachine::LiveMachine(Key, Options options, std::unique_ptr<LiveRegistry> registry)
    : options_(std::move(options)), registry_(std::move(registry)) {
  installed_.emplace(registry_->store());
  // The fixed paths name another system's tools; on Linux their work is done by these.
  driverListing_ = KernelDriverListing::serve(options_.toolDirectory, options_.systemRoot);
  // A system tree other than / (tests) has its own processes, or none, and its own UUCP lock
  // directories: a report on it never meets this machine's locks or leaves one there.
  if (options_.systemRoot != "/") {
    for (const char* path : {"/proc", "/var/lock", "/run/lock"})
      paths_.push_back(std::make_unique<ScopedFixedPath>(path, options_.systemRoot + path));
  }
  for (const char* lsof : {"/usr/bin/lsof", "/usr/sbin/lsof", "/bin/lsof"}) {
    if (executable(lsof)) {
      paths_.push_back(std::make_unique<ScopedFixedPath>("/usr/sbin/lsof", lsof));
      break;
    }
  }
}

LiveMachine::~LiveMachine() {
  // The feed adds through the registry that goes with this machine; the store, and a pump
  // that took the feed from it, may outlive it.
  if (feed_) feed_->detach();
  registry_->store()->setFeed(nullptr);
}

std::unique_ptr<LiveMachine> LiveMachine::open(const Options& options, std::string* error) {
  LiveRegistryOptions registryOptions;
  registryOptions.root = options.systemRoot;
  if (!options.familyTablePath.empty()) {
    std::optional<UsbFamilyTable> table = UsbFamilyTable::read(options.familyTablePath, error);
    if (!table) return nullptr;
    registryOptions.family = std::move(*table);
  }
  auto registry = std::make_unique<LiveRegistry>(std::move(registryOptions));
  // Armed before the walk: a device arriving in between is both walked and told, and added
  // once. Only the real system has events; a fake tree (tests) has none. Without a monitor
  // (no netlink in a sandbox, or a report made once) the report is the same, only hot-plug is
  // missing.
  std::unique_ptr<UdevMonitor> monitor;
  std::string missed;
  if (options.followDeviceChanges && options.systemRoot == "/")
    monitor = UdevMonitor::open(LiveRegistryFeed::subsystems(), &missed);
  registry->build();
  std::shared_ptr<LiveRegistryFeed> feed;
  if (monitor) {
    feed = std::make_shared<LiveRegistryFeed>(std::move(monitor), *registry);
    registry->store()->setFeed(feed);
  }
  auto machine = std::make_unique<LiveMachine>(Key{}, options, std::move(registry));
  machine->feed_ = std::move(feed);
  machine->deviceChangesMissed_ = std::move(missed);
  return machine;
}

}  // namespace xr

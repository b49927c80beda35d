#include "ports/XRModemPortsPlugin.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <system_error>

#include "platform/BlockedSignals.h"
#include "platform/PlatformRoot.h"
#include "platform/RegistryStore.h"
#include "ports/PortInventory.h"
#include "serial/UUCPLock.h"
#include "tasks/LoadedDriverVersion.h"

namespace xr {
namespace {
// Anchor for finding the bundle that holds this code.
void bundleAnchor() {}

std::string hex4(int64_t value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%04llx", static_cast<unsigned long long>(value & 0xffff));
  return buffer;
}

std::vector<PortPaths> pathsOf(const std::vector<SerialPortRecord>& ports) {
  std::vector<PortPaths> paths;
  for (const SerialPortRecord& port : ports) paths.push_back(port.paths());
  return paths;
}

// bcdDevice 0x0210 is "2.10".
std::string bcdVersion(int64_t bcd) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%x.%02x", static_cast<unsigned>((bcd >> 8) & 0xff),
                static_cast<unsigned>(bcd & 0xff));
  return buffer;
}

std::string processText(const ProcessRef& process) {
  return (process.name.empty() ? std::string("?") : process.name) + " (pid " + std::to_string(process.pid) + ")";
}

const char* kindKey(SerialPortKind kind) {
  switch (kind) {
    case SerialPortKind::InternalModem: return "xrport_kind_modem";
    case SerialPortKind::USBModem: return "xrport_kind_usbmodem";
    case SerialPortKind::USBSerialAdapter: return "xrport_kind_usbserial";
    case SerialPortKind::UART: return "xrport_kind_uart";
    case SerialPortKind::Other: break;
  }
  return "xrport_kind_other";
}

void setText(Dictionary& item, const std::string& key, const std::optional<std::string>& value) {
  if (value && !value->empty()) item.set(key, *value);
}

bool samePorts(const std::vector<SerialPortRecord>& a, const std::vector<SerialPortRecord>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](const SerialPortRecord& x, const SerialPortRecord& y) { return x.paths() == y.paths(); });
}
}  // namespace

XRModemPortsPlugin::XRModemPortsPlugin(std::shared_ptr<const Bundle> bundle, Options options)
    : bundle_(bundle ? std::move(bundle) : Bundle::containingAddress(reinterpret_cast<const void*>(&bundleAnchor))),
      options_(std::move(options)),
      holders_(options_.procRoot.empty() ? resolvePath("/proc") : options_.procRoot) {}

std::string XRModemPortsPlugin::text(const std::string& key) const {
  return bundle_ ? bundle_->localizedString(key) : key;
}

struct XRModemPortsPlugin::EarlyPass::Shared {
  std::mutex mutex;
  std::vector<SerialPortRecord> ports;  // what the pass is of, once it has begun
  std::shared_ptr<HolderPass> pass;
};

std::unique_ptr<XRModemPortsPlugin::EarlyPass> XRModemPortsPlugin::EarlyPass::begin() {
  // A thread pays where the first report would wait on a process: the driver listing, when it
  // is a tool launch (a machine profile's tool), then runs beside the pass and the modem
  // plug-in's report. Where the listing is made in process (this machine, a Linux machine's
  // profile), the pass is all the early work, and a thread for it cost more than it
  // overlapped on a 2-CPU VM (its start and the report thread's wake-up, 0.5 ms a report):
  // the report makes the pass itself, sharing a long one with a second thread.
  if (!driverListingIsLaunched()) return nullptr;
  std::unique_ptr<EarlyPass> early(new EarlyPass);
  early->shared_ = std::make_shared<Shared>();
  try {
    const BlockedSignals blocked = BlockedSignals::termination();
    early->result_ = std::async(std::launch::async, &EarlyPass::run, early->shared_);
  } catch (const std::system_error&) {
    return nullptr;
  }
  return early;
}

XRModemPortsPlugin::EarlyPass::~EarlyPass() = default;

XRModemPortsPlugin::EarlyPass::Result XRModemPortsPlugin::EarlyPass::run(const std::shared_ptr<Shared>& shared) {
  Result early;
  early.ports = PortInventory::harvest(*RegistryStore::current());
  std::shared_ptr<HolderPass> pass;
  if (!early.ports.empty()) {
    // Our pid means us only in this machine's /proc; a profile's tree may use the number.
    const std::string procRoot = resolvePath("/proc");
    pass = std::make_shared<HolderPass>(PortHolders(procRoot), pathsOf(early.ports),
                                        procRoot == "/proc" ? ::getpid() : 0);
    // Open to the report's thread before the listing is launched, which holds this one until
    // the tool has started.
    std::lock_guard lock(shared->mutex);
    shared->ports = early.ports;
    shared->pass = pass;
  }
  // The listing (a process launch on a profile) runs while the holders pass reads /proc.
  LoadedDriverVersions listing(driverIdentifiers(early.ports), nullptr);
  if (pass) {
    pass->work();
    early.scan = pass->result();
  }
  early.versions = listing.versions().value_or(std::map<std::string, std::string>{});
  return early;
}

std::optional<XRModemPortsPlugin::EarlyPass::Result> XRModemPortsPlugin::EarlyPass::finish(
    const std::vector<SerialPortRecord>& ports) {
  std::shared_ptr<HolderPass> pass;
  {
    std::lock_guard lock(shared_->mutex);
    if (samePorts(shared_->ports, ports)) pass = shared_->pass;
  }
  if (pass) pass->work();
  Result made = result_.get();
  if (!samePorts(made.ports, ports)) return std::nullopt;
  return made;
}

std::vector<std::string> XRModemPortsPlugin::driverIdentifiers(const std::vector<SerialPortRecord>& ports) {
  std::vector<std::string> bundleIDs;
  for (const SerialPortRecord& port : ports) {
    if (port.bundleIdentifier && std::find(bundleIDs.begin(), bundleIDs.end(), *port.bundleIdentifier) == bundleIDs.end())
      bundleIDs.push_back(*port.bundleIdentifier);
  }
  return bundleIDs;
}

std::vector<DictionaryRef> XRModemPortsPlugin::portItems(EarlyPass* early) {
  const std::vector<SerialPortRecord> ports = PortInventory::harvest(*RegistryStore::current());
  std::optional<EarlyPass::Result> made;
  if (early && options_.procRoot.empty()) made = early->finish(ports);
  HolderScan scan;
  if (made) {
    scan = std::move(made->scan);
    versions_ = std::move(made->versions);
  } else {
    // One run of the driver-listing tool for every driver (each run is a process launch),
    // running while the holders pass reads /proc.
    LoadedDriverVersions listing(driverIdentifiers(ports), nullptr);
    scan = holders_.scan(pathsOf(ports));
    versions_ = listing.versions().value_or(std::map<std::string, std::string>{});
  }
  std::vector<DictionaryRef> items;
  lockDirectories_ = UUCPLock::defaultDirectories();
  const int uninspected = static_cast<int>(scan.uninspected.size());
  for (size_t i = 0; i < ports.size(); ++i) items.push_back(item(ports[i], scan.holders[i], uninspected));
  return items;
}

// Liveness by the proc tree the holders come from, so that a profile's lock files are judged
// by its own processes.
XRModemPortsPlugin::LockInfo XRModemPortsPlugin::lockInfo(const SerialPortRecord& port) const {
  LockInfo info;
  std::vector<std::string> names{port.kernelName};
  if (port.name != port.kernelName) names.push_back(port.name);
  for (const std::string& directory : lockDirectories_) {
    for (const std::string& name : names) {
      const std::optional<pid_t> pid = UUCPLock::recordedOwner(directory + "/" + UUCPLock::lockFileName(name));
      if (!pid) continue;
      if (*pid == 0) info.junk = true;
      if (*pid != 0 && holders_.isAlive(*pid) && !info.owner)
        info.owner = ProcessRef{*pid, holders_.processName(*pid).value_or("")};
    }
  }
  return info;
}

DictionaryRef XRModemPortsPlugin::item(const SerialPortRecord& port, const std::vector<ProcessRef>& holders,
                                       int uninspected) {
  auto item = makeDictionary();
  Dictionary& d = *item;
  d.set("_name", port.name);
  setText(d, "xrport_device", port.devicePath);
  if (!port.links.empty()) {
    auto links = makeArray();
    for (const std::string& link : port.links) links->push_back(Value(link));
    d.set("xrport_links", links);
  }
  d.set("xrport_kind", text(kindKey(port.kind)));
  setText(d, "xrport_uarttype", port.uartName);
  setText(d, "xrport_driver", port.driverName ? port.driverName : port.bundleIdentifier);
  setText(d, "xrport_module", port.moduleName);
  if (port.bundleIdentifier) {
    if (auto it = versions_.find(*port.bundleIdentifier); it != versions_.end()) d.set("xrport_driverversion", it->second);
  }

  if (port.usb) {
    const USBPortFacts& usb = *port.usb;
    if (usb.vendorID) d.set("xrport_vendorid", hex4(*usb.vendorID));
    if (usb.productID) d.set("xrport_productid", hex4(*usb.productID));
    setText(d, "xrport_vendor", usb.manufacturer);
    setText(d, "xrport_product", usb.product);
    setText(d, "xrport_serial", usb.serial);
    if (usb.bcdDevice) d.set("xrport_firmware", bcdVersion(*usb.bcdDevice));
    if (usb.busNumber) {
      std::string location = "bus " + std::to_string(*usb.busNumber);
      if (usb.portPath) location += ", port " + *usb.portPath;
      d.set("xrport_location", location);
    }
    if (usb.speed) d.set("xrport_speed", *usb.speed + " Mb/s");
  }

  if (!holders.empty()) {
    auto list = makeArray();
    for (const ProcessRef& process : holders) list->push_back(Value(processText(process)));
    d.set("xrport_heldby", list);
  }
  const LockInfo lock = lockInfo(port);
  if (lock.owner)
    d.set("xrport_lockedby", processText(*lock.owner));
  else if (lock.junk)
    d.set("xrport_lockedby", text("xrport_lock_junk"));
  if (uninspected > 0) d.set("xrport_uninspected", uninspected);

  if (!options_.probe) return item;
  std::string refusal;
  if (!isModemKind(port.kind))
    refusal = "xrport_probe_notmodem";
  else if (!holders.empty())
    refusal = "xrport_probe_held";
  else if (lock.owner || lock.junk)
    refusal = "xrport_probe_locked";
  else if (uninspected > 0)
    refusal = "xrport_probe_unknownholders";
  if (!refusal.empty()) {
    d.set("xrport_probe", text(refusal));
    return item;
  }
  const ModemIdentity identity = ModemIdentityProbe(options_.timing).probe(port);
  setText(d, "xrport_manufacturer", identity.manufacturer);
  setText(d, "xrport_model", identity.model);
  setText(d, "xrport_revision", identity.revision);
  setText(d, "xrport_capabilities", identity.capabilities);
  setText(d, "xrport_identification", identity.identification);
  if (!identity.failure.empty()) d.set("xrport_probe", text(identity.failure));
  return item;
}

}  // namespace xr

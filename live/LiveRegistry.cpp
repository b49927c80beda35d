#include "live/LiveRegistry.h"

#include <sys/sysmacros.h>

#include <algorithm>
#include <set>

namespace xr {
namespace {

constexpr std::string_view kClassTty = "/sys/class/tty";
constexpr std::string_view kUsbDevices = "/sys/bus/usb/devices";
constexpr std::string_view kDeviceTreeBase = "/sys/firmware/devicetree/base";
constexpr std::string_view kVirtualDevices = "/sys/devices/virtual/";
constexpr std::string_view kModemLink = "/dev/modem";
constexpr std::string_view kFamilyClass = "TarvoSM56KUSBModemFamily";
constexpr int kMaxSerialBaseHops = 4;   // port, controller, then the hardware device
constexpr size_t kMaxDeviceTreeDepth = 32;

std::optional<int64_t> parseInteger(std::string_view text, int base) {
  if (text.empty() || text.size() > 16) return std::nullopt;
  int64_t value = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return std::nullopt;
    value = value * base + digit;
  }
  return value;
}

std::optional<dev_t> parseDeviceNumber(std::string_view text) {
  size_t colon = text.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  auto major = parseInteger(text.substr(0, colon), 10);
  auto minor = parseInteger(text.substr(colon + 1), 10);
  if (!major || !minor || *major > 0xfffff || *minor > 0xfffff) return std::nullopt;
  return makedev(static_cast<unsigned>(*major), static_cast<unsigned>(*minor));
}

bool isAtCommandInterface(int64_t cls, int64_t subclass, int64_t protocol) {
  return cls == 0x02 && subclass == 0x02 && protocol >= 0x01 && protocol <= 0x06;
}

// The terminal devices of the kernel's own: the console, /dev/tty, the pty multiplexer and the
// virtual terminals tty0 to tty63, whose names no other driver may take.
bool isVirtualTerminalName(std::string_view name) {
  if (name == "console" || name == "tty" || name == "ptmx") return true;
  if (!name.starts_with("tty") || name.size() == 3) return false;
  return std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

// The /dev names that lead to ports, read once per build (or per added device).
struct LiveRegistry::DevLinks {
  struct Link {
    std::string path;                 // "/dev/serial/by-id/usb-..."
    std::string finalName;            // last component where the link chain ends
    std::optional<dev_t> number;      // the node it ends at, when that is a character device
  };
  bool modemPresent = false;
  std::string modemTargetName;        // last component of /dev/modem's own target, empty for a node
  std::optional<dev_t> modemNumber;
  std::vector<Link> links;

  bool isModem(const std::string& kernel, std::optional<dev_t> number) const {
    if (!modemPresent) return false;
    if (!modemTargetName.empty() && modemTargetName == kernel) return true;
    return modemNumber && number && *modemNumber == *number;
  }
  ArrayRef linksTo(const std::string& kernel, std::optional<dev_t> number) const {
    auto out = makeArray();
    for (const Link& link : links) {
      if (link.finalName == kernel || (link.number && number && *link.number == *number)) out->emplace_back(link.path);
    }
    return out;
  }
};

struct LiveRegistry::TtyInfo {
  std::string path;        // the tty's class device
  std::string kernel;      // "ttyACM0"
  std::string deviceNumber;
  std::optional<dev_t> number;
  std::optional<int64_t> uartType;
  std::string devicePath;  // hardware device or USB interface
  std::string subsystem;   // the device's
  bool usbInterface = false;
  bool usbSerial = false;
};

std::string_view uartTypeName(int64_t type) {
  // The kernel's 8250 port types, by their value.
  static constexpr std::string_view kNames[] = {
      "",          "8250",      "16450",        "16550",        "16550A",        "Cirrus",  "ST16650",
      "ST16650V2", "TI16750",   "Startech",     "16C950/954",   "ST16654",       "XR16850", "RSA",
      "NS16550A",  "XScale",    "RM9000",       "OCTEON",       "AR7",           "U6_16550A", "Tegra",
      "XR17D15X",  "LPC3220",   "8250_CIR",     "XR17V35X",     "TruManage",     "Altera 16550 FIFO32",
      "Altera 16550 FIFO64", "Altera 16550 FIFO128", "RT2880", "16550A_FSL64"};
  if (type <= 0 || type >= static_cast<int64_t>(std::size(kNames))) return "";
  return kNames[type];
}

int64_t usbLocationID(int bus, std::string_view portPath) {
  int64_t location = static_cast<int64_t>(bus & 0xff) << 24;
  int shift = 20;
  size_t i = 0;
  while (i < portPath.size() && shift >= 0) {
    size_t dot = portPath.find('.', i);
    if (dot == std::string_view::npos) dot = portPath.size();
    auto port = parseInteger(portPath.substr(i, dot - i), 10);
    if (!port) break;
    location |= std::min<int64_t>(*port, 15) << shift;
    shift -= 4;
    i = dot + 1;
  }
  return location;
}

LiveRegistry::LiveRegistry(LiveRegistryOptions options)
    : tree_(std::move(options.root)), family_(std::move(options.family)), store_(RegistryStore::create()) {
  store_->replaceRoot(RegistryStore::kDeviceTreePlane, "device-tree", "HwPlatformDevice", nullptr);
  platform_ = store_->addEntry(store_->root(RegistryStore::kServicePlane), "platform", "HwPlatformExpert");
}

RegistryEntry* LiveRegistry::add(RegistryEntry* parent, const std::string& key, std::string name,
                                 std::string className, DictionaryRef properties,
                                 std::vector<const RegistryEntry*>* added) {
  RegistryEntry* entry = store_->addEntry(parent, std::move(name), std::move(className), std::move(properties));
  entries_[key] = entry;
  if (added) added->push_back(entry);
  return entry;
}

void LiveRegistry::build() {
  buildDeviceTree();
  const DevLinks links = readDevLinks();

  std::vector<TtyInfo> usbTtys;
  std::set<std::string> ttyInterfaces;
  // Almost every tty is virtual, most of them by names the kernel keeps for them: a readlink
  // each would cost most of the walk. They are left out before the names are sorted.
  for (const std::string& name : tree_.list(kClassTty, isVirtualTerminalName)) {
    std::string classPath = std::string(kClassTty) + "/" + name;
    // A readlink tells the rest: a port's link leads to its device, a virtual one's elsewhere
    // under the virtual devices.
    std::string path = tree_.linkTarget(classPath).value_or(classPath);
    if (path.starts_with(kVirtualDevices)) continue;
    std::optional<TtyInfo> tty = readTty(path);
    if (!tty) continue;
    if (tty->usbInterface) {
      ttyInterfaces.insert(tty->devicePath);
      usbTtys.push_back(std::move(*tty));
    } else {
      addTty(*tty, links);
    }
  }

  for (const std::string& name : tree_.list(kUsbDevices)) {
    std::string path = std::string(kUsbDevices) + "/" + name;
    std::optional<std::string> device = tree_.follow(path);
    if (!device) continue;
    if (name.find(':') != std::string::npos) {
      if (ttyInterfaces.count(*device)) {
        usbInterfaceEntry(*device, nullptr);
        continue;
      }
      auto cls = parseInteger(tree_.attribute(*device + "/bInterfaceClass").value_or(""), 16);
      auto subclass = parseInteger(tree_.attribute(*device + "/bInterfaceSubClass").value_or(""), 16);
      auto protocol = parseInteger(tree_.attribute(*device + "/bInterfaceProtocol").value_or(""), 16);
      if (cls && subclass && protocol && isAtCommandInterface(*cls, *subclass, *protocol))
        usbInterfaceEntry(*device, nullptr);
    } else if (name.starts_with("usb")) {
      if (auto bus = parseInteger(std::string_view(name).substr(3), 10)) controllerEntry(static_cast<int>(*bus), nullptr);
    } else {
      usbDeviceEntry(*device, nullptr);
    }
  }
  for (const TtyInfo& tty : usbTtys) addTty(tty, links);
}

std::vector<const RegistryEntry*> LiveRegistry::addDevice(std::string_view sysfsPath) {
  std::vector<const RegistryEntry*> added;
  std::string path = normalizePath(sysfsPath);
  std::optional<std::string> subsystem = tree_.linkName(path + "/subsystem");
  if (!subsystem) return added;
  if (*subsystem == "tty") {
    if (path.starts_with(kVirtualDevices)) return added;
    if (std::optional<TtyInfo> tty = readTty(path)) return addTty(*tty, readDevLinks());
  } else if (*subsystem == "usb") {
    std::string_view name = baseName(path);
    if (name.find(':') != std::string_view::npos) {
      auto cls = parseInteger(tree_.attribute(path + "/bInterfaceClass").value_or(""), 16);
      auto subclass = parseInteger(tree_.attribute(path + "/bInterfaceSubClass").value_or(""), 16);
      auto protocol = parseInteger(tree_.attribute(path + "/bInterfaceProtocol").value_or(""), 16);
      // Other interfaces appear when a tty below them does.
      if (cls && subclass && protocol && isAtCommandInterface(*cls, *subclass, *protocol))
        usbInterfaceEntry(path, &added);
    } else if (name.starts_with("usb")) {
      if (auto bus = parseInteger(name.substr(3), 10)) controllerEntry(static_cast<int>(*bus), &added);
    } else {
      usbDeviceEntry(path, &added);
    }
  }
  return added;
}

size_t LiveRegistry::removeDevice(std::string_view sysfsPath) {
  const std::string path = normalizePath(sysfsPath);
  auto under = [&](std::string_view key) {
    if (key.starts_with("tty:")) key.remove_prefix(4);
    return key.starts_with(path) && (key.size() == path.size() || key[path.size()] == '/');
  };
  std::set<const RegistryEntry*> gone;
  for (const auto& [key, entry] : entries_) {
    if (under(key)) gone.insert(entry);
  }
  auto belowGone = [&](const RegistryEntry* e) {
    for (e = e->parent(); e; e = e->parent()) {
      if (gone.count(e)) return true;
    }
    return false;
  };
  for (const RegistryEntry* entry : gone) {
    if (!belowGone(entry)) store_->removeEntry(entry);
  }
  // What hung below them went with them (a port below a driver that was unbound).
  return std::erase_if(entries_, [&](const auto& item) { return gone.count(item.second) || belowGone(item.second); });
}

std::optional<LiveRegistry::TtyInfo> LiveRegistry::readTty(const std::string& ttyPath) const {
  TtyInfo tty;
  tty.path = ttyPath;
  tty.kernel = std::string(baseName(ttyPath));
  std::optional<std::string> dev = tree_.attribute(ttyPath + "/dev");
  if (!dev) return std::nullopt;  // gone, or not a device
  tty.deviceNumber = *dev;
  tty.number = parseDeviceNumber(*dev);
  if (std::optional<std::string> type = tree_.attribute(ttyPath + "/type")) {
    tty.uartType = parseInteger(*type, 10);
    if (tty.uartType == 0) return std::nullopt;  // a serial slot with no UART behind it
  }
  std::optional<std::string> device = tree_.follow(ttyPath + "/device");
  if (!device || *device == ttyPath) return std::nullopt;
  std::optional<std::string> subsystem = tree_.linkName(*device + "/subsystem");
  for (int hop = 0; hop < kMaxSerialBaseHops && subsystem == "serial-base"; ++hop) {
    *device = parentPath(*device);
    subsystem = tree_.linkName(*device + "/subsystem");
  }
  if (subsystem == "usb-serial") {
    tty.usbSerial = true;
    *device = parentPath(*device);
    subsystem = tree_.linkName(*device + "/subsystem");
  }
  if (!subsystem) return std::nullopt;  // vanished under us
  tty.usbInterface = subsystem == "usb" && baseName(*device).find(':') != std::string_view::npos;
  tty.devicePath = std::move(*device);
  tty.subsystem = std::move(*subsystem);
  return tty;
}

std::vector<const RegistryEntry*> LiveRegistry::addTty(const TtyInfo& tty, const DevLinks& links) {
  std::vector<const RegistryEntry*> added;
  const std::string key = "tty:" + tty.path;
  if (entries_.count(key)) return added;
  RegistryEntry* parent =
      tty.usbInterface ? usbInterfaceEntry(tty.devicePath, &added) : hardwareEntry(tty, &added);
  if (!parent) return added;
  if (RegistryEntry* driver = driverEntry(parent, tty.devicePath, tty.usbSerial, &added)) parent = driver;

  const bool modem = links.isModem(tty.kernel, tty.number);
  const std::string name = modem ? "modem" : tty.kernel;
  const std::string devicePath = "/dev/" + tty.kernel;
  // The node to open: under a system root other than "/" (a test tree) the tree's own.
  const std::string callout = tree_.at(modem ? kModemLink : std::string_view(devicePath));
  auto properties = makeDictionary({{"HwSerialBSDClientType", "HwSerialStream"},
                                    {"HwTTYDevice", name},
                                    {"HwTTYBaseName", name},
                                    {"HwCalloutDevice", callout},
                                    {"HwDialinDevice", callout},
                                    {"kernelName", tty.kernel},
                                    {"devicePath", devicePath},
                                    {"deviceNumber", tty.deviceNumber},
                                    {"deviceLinks", links.linksTo(tty.kernel, tty.number)}});
  if (tty.uartType) {
    std::string_view uart = uartTypeName(*tty.uartType);
    if (!uart.empty()) {
      properties->set("uartType", *tty.uartType);
      properties->set("uartName", uart);
    }
  }
  add(parent, key, tty.kernel, "HwSerialBSDClient", std::move(properties), &added);
  return added;
}

RegistryEntry* LiveRegistry::hardwareEntry(const TtyInfo& tty, std::vector<const RegistryEntry*>* added) {
  const std::string& devicePath = tty.devicePath;
  if (auto it = entries_.find(devicePath); it != entries_.end()) return it->second;
  auto properties = makeDictionary({{"sysfsPath", devicePath}, {"subsystem", tty.subsystem}});
  if (auto modalias = tree_.attribute(devicePath + "/modalias")) properties->set("modalias", *modalias);
  if (auto node = tree_.follow(devicePath + "/of_node"); node && *node != devicePath + "/of_node") {
    if (auto compatible = tree_.bytes(*node + "/compatible", SysfsTree::kPropertyLimit))
      properties->set("compatible", std::move(*compatible));
  }
  return add(platform_, devicePath, std::string(baseName(devicePath)), "HwLinuxDevice", std::move(properties), added);
}

RegistryEntry* LiveRegistry::driverEntry(RegistryEntry* parent, const std::string& devicePath, bool usbSerial,
                                         std::vector<const RegistryEntry*>* added) {
  const std::string key = devicePath + "/driver";
  if (auto it = entries_.find(key); it != entries_.end()) return it->second;
  std::optional<std::string> driver = tree_.follow(key);
  if (!driver || *driver == key) return nullptr;
  std::string driverName(baseName(*driver));
  auto properties = makeDictionary();
  std::optional<std::string> module = tree_.linkName(*driver + "/module");
  properties->set("PkBundleIdentifier", module ? *module : driverName);
  properties->set("driverName", driverName);
  if (module) properties->set("moduleName", *module);
  if (usbSerial) properties->set("usbSerial", true);
  return add(parent, key, driverName, "HwSerialDriver", std::move(properties), added);
}

RegistryEntry* LiveRegistry::controllerEntry(int bus, std::vector<const RegistryEntry*>* added) {
  const std::string name = "usb" + std::to_string(bus);
  if (auto it = entries_.find(name); it != entries_.end()) return it->second;
  auto properties = makeDictionary({{"busNumber", bus}, {"locationID", usbLocationID(bus, "")}});
  return add(platform_, name, name, "HwUSBController", std::move(properties), added);
}

RegistryEntry* LiveRegistry::usbDeviceEntry(const std::string& devicePath, std::vector<const RegistryEntry*>* added) {
  if (auto it = entries_.find(devicePath); it != entries_.end()) return it->second;
  std::string_view name = baseName(devicePath);
  size_t dash = name.find('-');
  if (dash == std::string_view::npos) return nullptr;
  auto hex = [&](const char* attribute) { return parseInteger(tree_.attribute(devicePath + "/" + attribute).value_or(""), 16); };
  std::optional<int64_t> vendor = hex("idVendor"), product = hex("idProduct"), release = hex("bcdDevice");
  if (!vendor || !product) return nullptr;  // vanished, or not a USB device
  auto bus = parseInteger(tree_.attribute(devicePath + "/busnum").value_or(""), 10);
  if (!bus) bus = parseInteger(name.substr(0, dash), 10);
  if (!bus) return nullptr;
  std::string portPath(name.substr(dash + 1));

  auto properties = makeDictionary({{"idVendor", *vendor}, {"idProduct", *product}});
  if (release) properties->set("bcdDevice", *release);
  std::optional<std::string> productName;
  for (const char* key : {"manufacturer", "product", "serial"}) {
    if (auto text = tree_.attribute(devicePath + "/" + key)) {
      if (std::string_view(key) == "product") productName = *text;
      properties->set(key, std::move(*text));
    }
  }
  properties->set("busNumber", *bus);
  properties->set("portPath", portPath);
  properties->set("locationID", usbLocationID(static_cast<int>(*bus), portPath));
  if (auto speed = tree_.attribute(devicePath + "/speed")) properties->set("speed", *speed);
  properties->set("sysfsPath", devicePath);
  const bool inFamily = family_.contains(static_cast<uint16_t>(*vendor), static_cast<uint16_t>(*product));
  if (inFamily && release) properties->set("SM56KUSBFirmwareVersion", *release);

  RegistryEntry* controller = controllerEntry(static_cast<int>(*bus), added);
  std::string entryName = productName && !productName->empty() ? *productName : "USB Device";
  return add(controller, devicePath, std::move(entryName), inFamily ? std::string(kFamilyClass) : "HwUSBDevice",
             std::move(properties), added);
}

RegistryEntry* LiveRegistry::usbInterfaceEntry(const std::string& interfacePath,
                                               std::vector<const RegistryEntry*>* added) {
  if (auto it = entries_.find(interfacePath); it != entries_.end()) return it->second;
  auto hex = [&](const char* attribute) {
    return parseInteger(tree_.attribute(interfacePath + "/" + attribute).value_or(""), 16);
  };
  std::optional<int64_t> number = hex("bInterfaceNumber"), cls = hex("bInterfaceClass"),
                         subclass = hex("bInterfaceSubClass"), protocol = hex("bInterfaceProtocol");
  if (!number || !cls || !subclass || !protocol) return nullptr;
  RegistryEntry* device = usbDeviceEntry(parentPath(interfacePath), added);
  if (!device) return nullptr;
  auto properties = makeDictionary({{"bInterfaceNumber", *number},
                                    {"bInterfaceClass", *cls},
                                    {"bInterfaceSubClass", *subclass},
                                    {"bInterfaceProtocol", *protocol}});
  if (auto modalias = tree_.attribute(interfacePath + "/modalias")) properties->set("modalias", *modalias);
  properties->set("sysfsPath", interfacePath);
  properties->set("ATCommandInterface", isAtCommandInterface(*cls, *subclass, *protocol));
  return add(device, interfacePath, std::string(baseName(interfacePath)), "HwUSBInterface", std::move(properties),
             added);
}

LiveRegistry::DevLinks LiveRegistry::readDevLinks() const {
  DevLinks links;
  auto addLink = [&](std::string path) {
    std::optional<std::string> final = tree_.follow(path);
    if (!final) return;
    links.links.push_back({path, std::string(baseName(*final)), tree_.characterDevice(path)});
  };
  std::string modem(kModemLink);
  if (std::optional<std::string> target = tree_.linkTarget(modem)) {
    links.modemPresent = true;
    links.modemTargetName = std::string(baseName(*target));
  }
  links.modemNumber = tree_.characterDevice(modem);
  links.modemPresent = links.modemPresent || links.modemNumber.has_value();
  if (links.modemPresent) addLink(modem);
  for (const char* dir : {"/dev/serial/by-id", "/dev/serial/by-path"}) {
    for (const std::string& name : tree_.list(dir)) addLink(std::string(dir) + "/" + name);
  }
  std::sort(links.links.begin(), links.links.end(),
            [](const DevLinks::Link& a, const DevLinks::Link& b) { return a.path < b.path; });
  return links;
}

void LiveRegistry::buildDeviceTree() {
  RegistryEntry* root = store_->root(RegistryStore::kDeviceTreePlane);
  // Explicit stack, bounded depth: a broken tree cannot exhaust ours.
  struct Node {
    RegistryEntry* parent;  // null for the base itself
    std::string path;
    size_t depth;
  };
  std::vector<Node> stack{{nullptr, std::string(kDeviceTreeBase), 0}};
  while (!stack.empty()) {
    Node node = std::move(stack.back());
    stack.pop_back();
    std::vector<std::string> directories, files;
    tree_.listNodes(node.path, &directories, &files);
    auto properties = makeDictionary();
    for (const std::string& file : files) {
      if (auto value = tree_.bytes(node.path + "/" + file, SysfsTree::kPropertyLimit))
        properties->set(file, std::move(*value));
    }
    RegistryEntry* entry;
    if (!node.parent) {
      entry = store_->replaceRoot(RegistryStore::kDeviceTreePlane, "device-tree", "HwPlatformDevice",
                                  std::move(properties));
      if (!entry) entry = root;
    } else {
      entry = store_->addEntry(node.parent, std::string(baseName(node.path)), "HwPlatformDevice",
                               std::move(properties));
    }
    if (node.depth >= kMaxDeviceTreeDepth) continue;
    // Pushed in reverse so children are added in order, each subtree before the next sibling.
    for (auto it = directories.rbegin(); it != directories.rend(); ++it)
      stack.push_back({entry, node.path + "/" + *it, node.depth + 1});
  }
}

}  // namespace xr

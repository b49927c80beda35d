#pragma once

// The registry of this machine, built from sysfs.
//
// It has the shape the machine profiles' registry.json files use, so the plug-ins read the
// live machine and a profile alike. This vocabulary is shared with the modem-ports plug-in:
// change it here and in the examples together. Keys in double quotes are exact; integers are
// registry integers; "data" is a byte string.
//
// HwService plane:
//
//   Root (class "HwRegistryEntry")
//     platform (class "HwPlatformExpert")
//       <one entry per hardware device behind a real tty, in sysfs order>
//       usbN (class "HwUSBController", one per USB bus, "locationID" = N << 24)
//         <USB device> (class "HwUSBDevice", or the USB modem family class
//                       "TarvoSM56KUSBModemFamily" when listed in the family table)
//           <USB interface> (class "HwUSBInterface")
//             <driver> ... <port> as below
//
// A hardware device behind a tty (non-USB), class "HwLinuxDevice", name = its sysfs name
// ("serial8250", "00:01", "3f201000.serial"): "sysfsPath" (string, the resolved
// /sys/devices/... path), "subsystem" (string, "platform", "pnp", "pci", ...), "modalias"
// (string, when present), "compatible" (data, NUL-separated, from of_node, when present).
// The walk from a tty to its hardware device passes the kernel's "serial-base" port and
// controller devices.
//
// Its first child: the driver, class "HwSerialDriver", name = driver name ("serial8250",
// "cdc_acm", "ftdi_sio"): "PkBundleIdentifier" (string: module name from driver/module, else
// the driver's name), "driverName" (string), "moduleName" (string, when the driver has a
// driver/module link). A device with no driver bound has its ports as direct children.
//
// The driver's children: one port per tty, class "HwSerialBSDClient", name = kernel name:
//   "HwSerialBSDClientType" = "HwSerialStream",
//   "HwTTYDevice" (kernel name "ttyACM0", or "modem" for the port /dev/modem leads to),
//   "HwTTYBaseName" (same as HwTTYDevice),
//   "HwCalloutDevice" (its /dev path; "/dev/modem" for the modem port),
//   "HwDialinDevice" (same as HwCalloutDevice),
//   "kernelName" (always the kernel name, "ttyS0"),
//   "devicePath" (always "/dev/" + kernel name),
//   "deviceNumber" (string "MAJOR:MINOR"),
//   "deviceLinks" (array of strings: every /dev/modem, /dev/serial/by-id/*,
//                  /dev/serial/by-path/* link that leads to this port, sorted),
//   "uartType" (integer, the 8250 `type` attribute, only for 8250-family ports),
//   "uartName" (string, e.g. "16550A", only for 8250-family ports).
// Built under a system root other than "/" (a test tree), HwCalloutDevice and HwDialinDevice
// are the nodes in that tree (ROOT/dev/ttyACM0), the ones a report opens; the other names stay
// the system's.
// /dev/modem leads to a port when the last component of its link target is the port's kernel
// name, or else when the node it ends at has the port's device number. Virtual ttys (device
// under /sys/devices/virtual) and serial slots whose `type` is 0 are left out.
//
// USB device ("HwUSBDevice" or the family class), name = product string or "USB Device":
//   "idVendor", "idProduct", "bcdDevice" (integers), "manufacturer", "product", "serial"
//   (strings when present), "busNumber" (integer), "portPath" (string "2.3"), "locationID"
//   (integer: bus in top byte, one nibble per port: 1-2.3 -> 0x01230000), "speed" (string,
//   Mb/s as sysfs gives it, "480"), "sysfsPath". Family-table devices also get
//   "SM56KUSBFirmwareVersion" = bcdDevice.
//
// USB interface ("HwUSBInterface"), name = sysfs name ("1-2:1.0"): "bInterfaceNumber",
//   "bInterfaceClass", "bInterfaceSubClass", "bInterfaceProtocol" (integers), "modalias",
//   "sysfsPath", "ATCommandInterface" (boolean, true for class 02 subclass 02 protocol
//   01-06). Only AT-command interfaces and interfaces with a tty are listed. Its first child
//   is its driver entry ("HwSerialDriver" as above: "cdc_acm", "option", "ftdi_sio", ...),
//   whose children are the port entries. The driver entry of a usb-serial interface has
//   "usbSerial" = true (the tty hangs off a usb-serial bus device below the interface).
//
// HwDeviceTree plane: from /sys/firmware/devicetree/base, one entry per node directory (class
// "HwPlatformDevice", name = directory name, "name@unit" included), every regular file a
// data property; the root is "device-tree" (a bare root when there is no device tree).
//
// Reads are bounded (sysfs attributes 4 KB, device-tree properties 64 KB; longer files are
// left out), link chains are followed at most SysfsTree::kMaxLinkHops, and whatever cannot be
// read (no /sys, a device that vanishes during the walk) is left out: the registry holds what
// could be read.

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "live/SysfsTree.h"
#include "live/UsbFamilyTable.h"
#include "platform/RegistryStore.h"

namespace xr {

struct LiveRegistryOptions {
  std::string root = "/";  // the system root: sys/ and dev/ are read under it
  UsbFamilyTable family;
};

// Builds and then grows one registry store from the system. Not thread-safe: one thread
// builds and adds; the store itself may be read from any thread.
class LiveRegistry {
 public:
  explicit LiveRegistry(LiveRegistryOptions options = {});
  LiveRegistry(const LiveRegistry&) = delete;
  LiveRegistry& operator=(const LiveRegistry&) = delete;

  const std::shared_ptr<RegistryStore>& store() const { return store_; }

  // Fills the store from the whole system: both planes, every real port, every USB device.
  void build();

  // Adds what one sysfs device contributes, given by its system path as udev names it
  // ("/sys/devices/pci0000:00/.../ttyACM0"): a tty device, a USB device or a USB interface.
  // Entries it needs and lacks (the hardware device, driver, USB device...) are added first;
  // entries already there are not added again. Gives the entries added, parents first;
  // empty when the device adds nothing (virtual tty, type-0 slot, vanished, unknown kind).
  std::vector<const RegistryEntry*> addDevice(std::string_view sysfsPath);
  // Takes out what the sysfs device at that path, and every device below it, contributed (a
  // device unplugged: "/sys/devices/.../1-2"; a driver unbound: ".../1-2:1.0/driver"), so
  // that what comes back at the same path is read anew. Gives the number of entries taken
  // out; controllers stay.
  size_t removeDevice(std::string_view sysfsPath);

 private:
  struct DevLinks;
  struct TtyInfo;

  std::optional<TtyInfo> readTty(const std::string& ttyPath) const;
  std::vector<const RegistryEntry*> addTty(const TtyInfo& tty, const DevLinks& links);
  RegistryEntry* hardwareEntry(const TtyInfo& tty, std::vector<const RegistryEntry*>* added);
  RegistryEntry* driverEntry(RegistryEntry* parent, const std::string& devicePath, bool usbSerial,
                             std::vector<const RegistryEntry*>* added);
  RegistryEntry* controllerEntry(int bus, std::vector<const RegistryEntry*>* added);
  RegistryEntry* usbDeviceEntry(const std::string& devicePath, std::vector<const RegistryEntry*>* added);
  RegistryEntry* usbInterfaceEntry(const std::string& interfacePath, std::vector<const RegistryEntry*>* added);
  RegistryEntry* add(RegistryEntry* parent, const std::string& key, std::string name, std::string className,
                     DictionaryRef properties, std::vector<const RegistryEntry*>* added);
  void buildDeviceTree();
  DevLinks readDevLinks() const;

  SysfsTree tree_;
  UsbFamilyTable family_;
  std::shared_ptr<RegistryStore> store_;
  RegistryEntry* platform_ = nullptr;
  // Entries in the registry, by what they stand for (a sysfs path, "usb1", "tty:<path>").
  std::map<std::string, RegistryEntry*> entries_;
};

// The name of an 8250 `type` value ("16550A" for 4); empty when it is not an 8250 type.
std::string_view uartTypeName(int64_t type);
// The location of a USB device from its bus and its port path ("2.3").
int64_t usbLocationID(int bus, std::string_view portPath);

}  // namespace xr

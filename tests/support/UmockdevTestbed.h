#pragma once

#include <umockdev.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/Registry.h"
#include "platform/RegistryObject.h"
#include "platform/RunLoop.h"

// What the hot-plug test and its benchmark do on a umockdev testbed: a USB modem whose ttys
// arrive, and the plug-in's discovery of serial ports.
namespace xr::test {

inline std::string owned(gchar* s) {
  std::string copy = s ? s : "";
  g_free(s);
  return copy;
}

// A CDC-ACM modem on bus 1: the USB device and its AT-command interface, bound.
struct UsbModem {
  UMockdevTestbed* testbed;
  std::string device, interface;
  std::vector<std::string> ttys;
  UsbModem(UMockdevTestbed* bed, const std::string& name, const std::string& product = "Test Modem") : testbed(bed) {
    device = owned(umockdev_testbed_add_device(testbed, "usb", name.c_str(), nullptr, "idVendor", "1234", "idProduct",
                                               "5678", "bcdDevice", "0100", "busnum", "1", "devpath", "2", "product",
                                               product.c_str(), nullptr, "DEVTYPE", "usb_device", nullptr));
    interface = owned(umockdev_testbed_add_device(testbed, "usb", (name + ":1.0").c_str(), device.c_str(),
                                                  "bInterfaceNumber", "00", "bInterfaceClass", "02",
                                                  "bInterfaceSubClass", "02", "bInterfaceProtocol", "01", nullptr,
                                                  "DEVTYPE", "usb_interface", nullptr));
    umockdev_testbed_set_attribute_link(testbed, interface.c_str(), "driver", "../../../bus/usb/drivers/cdc_acm");
  }
  // A tty below the interface; adding it sends its "add" event, read when the loop next runs.
  std::string addTty(int minor) {
    const std::string name = "ttyACM" + std::to_string(minor);
    std::string tty = owned(umockdev_testbed_add_device(testbed, "tty", name.c_str(), interface.c_str(), "dev",
                                                        ("166:" + std::to_string(minor)).c_str(), nullptr,
                                                        "DEVNAME", ("/dev/" + name).c_str(), nullptr));
    // sysfs links a class device to the device it belongs to; the testbed does not.
    umockdev_testbed_set_attribute_link(testbed, tty.c_str(), "device", "..");
    ttys.push_back(tty);
    return tty;
  }
  // Pulled out: the kernel's "remove" events, children first, and its sysfs tree gone.
  void unplug() {
    // The testbed takes out only the class link of the device it is given.
    ttys.push_back(interface);
    ttys.push_back(device);
    for (const std::string& path : ttys) {
      umockdev_testbed_uevent(testbed, path.c_str(), "remove");
      umockdev_testbed_remove_device(testbed, path.c_str());
    }
    ttys.clear();
  }
};

// The discovery of serial ports as the plug-in arms it: a notification port in this thread's
// run loop and a drained first-match iterator; ports holds the kernel names of those drained.
struct PortDiscovery {
  RegistryAccess access;
  RegistryNotifierRef port = nullptr;
  std::optional<ScopedRunLoopSource> source;
  RegistryObject iterator;
  std::vector<std::string> ports;
  bool armed = false;

  PortDiscovery() {
    if (RegistryOpen(access.receive()) != kRegistrySuccess) return;
    port = RegistryNotifierCreate(access.get());
    source.emplace(RunLoop::current(), RegistryNotifierSource(port));
    auto description = RegistryMatchClass("HwSerialBSDClient");
    description->set("HwSerialBSDClientType", "HwSerialStream");
    RegistryAddFirstMatch(port, "HwServiceFirstMatch", description, appeared, this, iterator.receive());
    appeared(this, iterator.get());
    armed = true;
  }
  ~PortDiscovery() {
    iterator.reset();
    source.reset();
    if (port) RegistryNotifierDestroy(port);
  }
  static void appeared(void* context, RegistryHandle iterator) {
    while (RegistryObject found{RegistryIteratorNext(iterator)}) {
      RegistryValue name = RegistryEntryProperty(found.get(), "kernelName");
      static_cast<PortDiscovery*>(context)->ports.push_back(name && name->string() ? *name->string() : "?");
    }
  }
};

}  // namespace xr::test

#include "ports/PortInventory.h"

#include <algorithm>

namespace xr {
namespace {

std::optional<std::string> text(const Dictionary& properties, std::string_view key) {
  auto value = properties.get(key).stringValue();
  if (value && value->empty()) return std::nullopt;
  return value;
}

std::optional<int64_t> integer(const Dictionary& properties, std::string_view key) {
  return properties.get(key).integer();
}

bool flag(const Dictionary& properties, std::string_view key) {
  return properties.get(key).boolean().value_or(false);
}

USBPortFacts usbFacts(const Dictionary& device) {
  USBPortFacts usb;
  usb.vendorID = integer(device, "idVendor");
  usb.productID = integer(device, "idProduct");
  usb.bcdDevice = integer(device, "bcdDevice");
  usb.manufacturer = text(device, "manufacturer");
  usb.product = text(device, "product");
  usb.serial = text(device, "serial");
  usb.busNumber = integer(device, "busNumber");
  usb.portPath = text(device, "portPath");
  usb.speed = text(device, "speed");
  return usb;
}

// USB serial drivers for cellular modems only: their ports are the modem's (its AT commands,
// and its diagnostics or GPS ports), not an adapter's.
bool cellularModemDriver(std::string_view module) {
  static constexpr std::string_view kDrivers[] = {"option", "qcserial", "sierra", "zte_ev"};
  return std::find(std::begin(kDrivers), std::end(kDrivers), module) != std::end(kDrivers);
}

SerialPortRecord record(const RegistryStore& registry, const RegistryEntry* port) {
  const Dictionary properties = registry.properties(port);
  SerialPortRecord r;
  r.kernelName = text(properties, "kernelName").value_or(port->name());
  r.name = text(properties, "HwTTYDevice").value_or(text(properties, "HwTTYBaseName").value_or(r.kernelName));
  r.devicePath = text(properties, "devicePath");
  r.openPath = text(properties, "HwCalloutDevice")
                   .value_or(text(properties, "HwDialinDevice").value_or(r.devicePath.value_or("")));
  r.deviceNumber = text(properties, "deviceNumber");
  r.uartName = text(properties, "uartName");
  if (auto links = properties.get("deviceLinks").array()) {
    for (const Value& link : *links)
      if (auto s = link.string(); s && !s->empty()) r.links.push_back(*s);
  }

  bool atInterface = false;
  bool usbSerial = false;
  if (const RegistryEntry* driver = port->parent(); driver && driver->className() == "HwSerialDriver") {
    const Dictionary d = registry.properties(driver);
    r.driverName = text(d, "driverName");
    r.moduleName = text(d, "moduleName");
    r.bundleIdentifier = text(d, "PkBundleIdentifier");
    usbSerial = flag(d, "usbSerial");
  }
  // The USB interface and device sit somewhere above the driver; the first of each counts.
  bool interfaceSeen = false;
  for (const RegistryEntry* e = port->parent(); e; e = e->parent()) {
    if (e->className() == "HwUSBInterface" && !interfaceSeen) {
      interfaceSeen = true;
      atInterface = flag(registry.properties(e), "ATCommandInterface");
    } else if (e->className() != "HwUSBInterface" && e->className() != "HwSerialDriver" && interfaceSeen) {
      const Dictionary d = registry.properties(e);
      if (d.contains("idVendor")) r.usb = usbFacts(d);
      break;
    }
  }

  // /dev/modem leads to the user's modem wherever it is; one on USB (a udev rule's link to a
  // ttyACM or ttyUSB port) is no internal modem.
  if (r.name == "modem")
    r.kind = interfaceSeen ? SerialPortKind::USBModem : SerialPortKind::InternalModem;
  else if (atInterface || (usbSerial && cellularModemDriver(r.moduleName.value_or(r.driverName.value_or("")))))
    r.kind = SerialPortKind::USBModem;
  else if (usbSerial)
    r.kind = SerialPortKind::USBSerialAdapter;
  else if (r.uartName || properties.contains("uartType"))
    r.kind = SerialPortKind::UART;
  return r;
}

}  // namespace

std::vector<std::string> SerialPortRecord::paths() const {
  std::vector<std::string> all;
  if (!openPath.empty()) all.push_back(openPath);
  if (devicePath) all.push_back(*devicePath);
  all.insert(all.end(), links.begin(), links.end());
  return all;
}

std::vector<SerialPortRecord> PortInventory::harvest(const RegistryStore& registry) {
  Dictionary streams{{"class", "HwSerialBSDClient"}, {"HwSerialBSDClientType", "HwSerialStream"}};
  std::vector<SerialPortRecord> ports;
  for (const RegistryEntry* entry : registry.matchingEntries(streams)) ports.push_back(record(registry, entry));
  std::stable_sort(ports.begin(), ports.end(), [](const SerialPortRecord& a, const SerialPortRecord& b) {
    if (isModemKind(a.kind) != isModemKind(b.kind)) return isModemKind(a.kind);
    return a.name < b.name;
  });
  return ports;
}

}  // namespace xr

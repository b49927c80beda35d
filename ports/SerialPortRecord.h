#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace xr {

// What a port is, in the order the report lists them: modem kinds first.
enum class SerialPortKind { InternalModem, USBModem, USBSerialAdapter, UART, Other };

// Only these ever get AT text: anything else may be a GPS receiver or a microcontroller board.
inline bool isModemKind(SerialPortKind kind) {
  return kind == SerialPortKind::InternalModem || kind == SerialPortKind::USBModem;
}

// The USB device a port belongs to, as the registry describes it.
struct USBPortFacts {
  std::optional<int64_t> vendorID;
  std::optional<int64_t> productID;
  std::optional<int64_t> bcdDevice;
  std::optional<std::string> manufacturer;
  std::optional<std::string> product;
  std::optional<std::string> serial;
  std::optional<int64_t> busNumber;
  std::optional<std::string> portPath;
  std::optional<std::string> speed;  // Mb/s, as the kernel gives it
};

// One serial stream port of the machine, gathered from its registry entry and the entries
// above it (driver, USB interface, USB device).
struct SerialPortRecord {
  std::string name;        // HwTTYDevice: "ttyACM0", or "modem" for the port /dev/modem leads to
  std::string kernelName;  // "ttyACM0" even for the modem port
  std::optional<std::string> devicePath;  // "/dev/" + kernel name
  std::string openPath;    // what to open and stat: HwCalloutDevice (a profile's pty for its modem)
  std::vector<std::string> links;
  std::optional<std::string> deviceNumber;  // "MAJOR:MINOR"
  SerialPortKind kind = SerialPortKind::Other;
  std::optional<std::string> uartName;
  std::optional<std::string> driverName;
  std::optional<std::string> moduleName;
  std::optional<std::string> bundleIdentifier;  // what the driver listing knows the driver by
  std::optional<USBPortFacts> usb;

  // Every path by which a process may have opened the port, for matching link texts.
  std::vector<std::string> paths() const;
};

}  // namespace xr

#pragma once

#include <map>
#include <string>

#include "support/TempDirectory.h"

namespace xr::test {

inline constexpr char kUsbModemDevice[] = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2.3";
inline constexpr char kUsbModemInterface[] = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2.3/1-2.3:1.0";
inline constexpr char kUsbModemTty[] = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2.3/1-2.3:1.0/tty/ttyACM0";

// A fake system tree (sys/ and dev/) in a temporary directory, laid out as Linux lays it out:
// attribute files end in a newline, device/driver/subsystem/of_node are relative symbolic
// links, /dev nodes are real character devices (mknod; the tests run as root).
// Paths are given as the system names them ("/sys/devices/...").
class FakeSystem {
 public:
  using Attributes = std::map<std::string, std::string>;

  const std::string& root() const { return dir_.path(); }

  // A file with exactly these bytes.
  void write(const std::string& path, const std::string& bytes) const;
  // An attribute file: value and a newline.
  void attribute(const std::string& path, const std::string& value) const { write(path, value + "\n"); }
  // A relative symbolic link at path leading to target (both system paths).
  void link(const std::string& path, const std::string& target) const;
  // A symbolic link holding exactly text.
  void rawLink(const std::string& path, const std::string& text) const;
  void node(const std::string& path, unsigned major, unsigned minor) const;
  void directory(const std::string& path) const;

  // A device directory with its subsystem link (to /sys/bus/SUBSYSTEM), its attributes and,
  // when driver is not empty, its driver link; the driver links to /sys/module/MODULE when
  // module is not empty.
  void device(const std::string& path, const std::string& subsystem, const Attributes& attributes = {},
              const std::string& driver = "", const std::string& module = "") const;
  // A tty class device at ttyPath (".../tty/ttyS0") behind device (empty: none, as for a
  // virtual tty), listed in /sys/class/tty, with its dev attribute and a /dev node.
  void tty(const std::string& ttyPath, const std::string& device, unsigned major, unsigned minor,
           const Attributes& attributes = {}) const;

  // The machine the benchmarks and the empty-machine test use: 67 virtual ttys and one
  // 16550A UART behind the serial-base port and controller of a PNP device.
  void nothingToFind() const;
  // A CDC-ACM modem (an AT-command interface) at 1-2.3 on USB bus 1: kUsbModemDevice, its
  // interface kUsbModemInterface and its port kUsbModemTty (ttyACM0).
  void usbModem(const std::string& product = "Tarvo USB Modem") const;

 private:
  TempDirectory dir_;
};

}  // namespace xr::test

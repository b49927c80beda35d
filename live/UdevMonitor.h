#pragma once

#include <memory>
#include <string>
#include <vector>

struct udev;
struct udev_monitor;

namespace xr {

// One device event as the monitor gives it.
struct DeviceEvent {
  std::string action;     // "add", "remove", "change", "bind", ...
  std::string sysfsPath;  // "/sys/devices/.../ttyACM0"
  std::string subsystem;  // "tty", "usb"
  std::string devType;    // "usb_device", "usb_interface"; empty when none
};

// The kernel's device events through a libudev netlink monitor: udevd's source when udevd
// runs (its events come once its rules have made the /dev links), the kernel's otherwise (a
// container, a machine without udevd). Receiving starts when it is made, so a device that
// arrives after that and before a walk of sysfs is both walked and told here: whoever adds
// what it tells must skip what is already there. Events queue in the socket until drained;
// drain them every time the descriptor turns readable (a sender whose queue fills loses
// events, or gives up).
class UdevMonitor {
 public:
  // Listens to the given subsystems (all when empty). nullptr and a message when libudev
  // or the netlink socket cannot be had.
  static std::unique_ptr<UdevMonitor> open(const std::vector<std::string>& subsystems, std::string* error = nullptr);
  ~UdevMonitor();
  UdevMonitor(const UdevMonitor&) = delete;
  UdevMonitor& operator=(const UdevMonitor&) = delete;

  // Readable while events wait; non-blocking, close-on-exec, owned by the monitor.
  int descriptor() const;
  // "udev" or "kernel".
  const std::string& source() const { return source_; }
  // Every event waiting now, oldest first; never blocks.
  std::vector<DeviceEvent> drain();

  // Whether udevd runs on this machine (its control socket exists).
  static bool udevdRuns();

 private:
  struct Key {};

 public:
  UdevMonitor(Key, udev* context, udev_monitor* monitor, std::string source);

 private:
  udev* udev_;
  udev_monitor* monitor_;
  std::string source_;
};

}  // namespace xr

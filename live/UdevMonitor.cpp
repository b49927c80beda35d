#include "live/UdevMonitor.h"

#include <fcntl.h>
#include <libudev.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace xr {
namespace {

std::string text(const char* s) { return s ? std::string(s) : std::string(); }

}  // namespace

bool UdevMonitor::udevdRuns() { return ::access("/run/udev/control", F_OK) == 0; }

std::unique_ptr<UdevMonitor> UdevMonitor::open(const std::vector<std::string>& subsystems, std::string* error) {
  auto fail = [&](const std::string& what) -> std::unique_ptr<UdevMonitor> {
    if (error) *error = what;
    return nullptr;
  };
  udev* context = udev_new();
  if (!context) return fail(std::string("udev: ") + std::strerror(errno));
  // Without udevd nothing is sent on udevd's source; the kernel's still carries every event.
  const std::string source = udevdRuns() ? "udev" : "kernel";
  udev_monitor* monitor = udev_monitor_new_from_netlink(context, source.c_str());
  if (!monitor) {
    const int saved = errno;
    udev_unref(context);
    return fail("udev monitor: " + std::string(std::strerror(saved)));
  }
  // Owned from here: the destructor gives both back on every later failure.
  auto made = std::make_unique<UdevMonitor>(Key{}, context, monitor, source);
  for (const std::string& subsystem : subsystems) {
    if (udev_monitor_filter_add_match_subsystem_devtype(monitor, subsystem.c_str(), nullptr) < 0)
      return fail("udev monitor filter: " + subsystem);
  }
  if (udev_monitor_enable_receiving(monitor) < 0) return fail("udev monitor: " + std::string(std::strerror(errno)));
  // A burst of arrivals (a hub with several modems) while the report is being made must not
  // overflow the socket; the size is a request, the kernel caps it.
  udev_monitor_set_receive_buffer_size(monitor, 1 << 20);
  const int fd = udev_monitor_get_fd(monitor);
  if (fd < 0 || ::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) return fail("udev monitor: no descriptor");
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return fail("udev monitor: no descriptor");
  return made;
}

UdevMonitor::UdevMonitor(Key, udev* context, udev_monitor* monitor, std::string source)
    : udev_(context), monitor_(monitor), source_(std::move(source)) {}

UdevMonitor::~UdevMonitor() {
  udev_monitor_unref(monitor_);
  udev_unref(udev_);
}

int UdevMonitor::descriptor() const { return udev_monitor_get_fd(monitor_); }

std::vector<DeviceEvent> UdevMonitor::drain() {
  std::vector<DeviceEvent> events;
  // receive_device gives null both when nothing waits and for a message it drops (another
  // sender's, one the filter rejects); the descriptor tells the two apart.
  for (;;) {
    udev_device* device = udev_monitor_receive_device(monitor_);
    if (device) {
      events.push_back(DeviceEvent{text(udev_device_get_action(device)), text(udev_device_get_syspath(device)),
                                   text(udev_device_get_subsystem(device)), text(udev_device_get_devtype(device))});
      udev_device_unref(device);
      continue;
    }
    char probe;
    if (::recv(udev_monitor_get_fd(monitor_), &probe, 1, MSG_PEEK | MSG_DONTWAIT) <= 0) break;
  }
  return events;
}

}  // namespace xr

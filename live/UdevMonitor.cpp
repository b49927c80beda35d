#include "live/UdevMonitor.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <libudev.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace xr {
namespace {

std::string text(const char* s) { return s ? std::string(s) : std::string(); }

#define XR_UDEV_FUNCTIONS(F)                                                                            \
  F(udev_new) F(udev_unref) F(udev_monitor_new_from_netlink) F(udev_monitor_unref)                      \
  F(udev_monitor_filter_add_match_subsystem_devtype) F(udev_monitor_enable_receiving)                 \
  F(udev_monitor_set_receive_buffer_size) F(udev_monitor_get_fd) F(udev_monitor_receive_device)        \
  F(udev_device_unref) F(udev_device_get_action) F(udev_device_get_syspath) F(udev_device_get_subsystem) \
  F(udev_device_get_devtype)

// libudev is mapped by the first monitor rather than at start: only a watch needs it, and a
// library loaded at start costs every report its relocations and page faults.
struct LibUdev {
#define XR_UDEV_POINTER(name) decltype(&::name) name = nullptr;
  XR_UDEV_FUNCTIONS(XR_UDEV_POINTER)
#undef XR_UDEV_POINTER
};

// nullptr, with dlerror's message, when the library or one of its functions is missing. The
// library then stays mapped for the life of the process, as if linked.
const LibUdev* libudev(std::string* error) {
  static std::string failure;  // written once, by the initialisation below
  static const LibUdev* const loaded = [] () -> const LibUdev* {
    void* handle = ::dlopen("libudev.so.1", RTLD_NOW | RTLD_LOCAL);
    static LibUdev lib;
    bool bound = handle != nullptr;
#define XR_UDEV_BIND(name) \
  bound = bound && (lib.name = reinterpret_cast<decltype(&::name)>(::dlsym(handle, #name))) != nullptr;
    XR_UDEV_FUNCTIONS(XR_UDEV_BIND)
#undef XR_UDEV_BIND
    if (bound) return &lib;
    const char* why = ::dlerror();
    failure = why ? why : "libudev.so.1: not loaded";
    if (handle) ::dlclose(handle);
    return nullptr;
  }();
  if (!loaded && error) *error = failure;
  return loaded;
}
#undef XR_UDEV_FUNCTIONS

}  // namespace

bool UdevMonitor::udevdRuns() { return ::access("/run/udev/control", F_OK) == 0; }

std::unique_ptr<UdevMonitor> UdevMonitor::open(const std::vector<std::string>& subsystems, std::string* error) {
  auto fail = [&](const std::string& what) -> std::unique_ptr<UdevMonitor> {
    if (error) *error = what;
    return nullptr;
  };
  const LibUdev* lib = libudev(error);
  if (!lib) return nullptr;
  udev* context = lib->udev_new();
  if (!context) return fail(std::string("udev: ") + std::strerror(errno));
  // Without udevd nothing is sent on udevd's source; the kernel's still carries every event.
  const std::string source = udevdRuns() ? "udev" : "kernel";
  udev_monitor* monitor = lib->udev_monitor_new_from_netlink(context, source.c_str());
  if (!monitor) {
    const int saved = errno;
    lib->udev_unref(context);
    return fail("udev monitor: " + std::string(std::strerror(saved)));
  }
  // Owned from here: the destructor gives both back on every later failure.
  auto made = std::make_unique<UdevMonitor>(Key{}, context, monitor, source);
  for (const std::string& subsystem : subsystems) {
    if (lib->udev_monitor_filter_add_match_subsystem_devtype(monitor, subsystem.c_str(), nullptr) < 0)
      return fail("udev monitor filter: " + subsystem);
  }
  if (lib->udev_monitor_enable_receiving(monitor) < 0) return fail("udev monitor: " + std::string(std::strerror(errno)));
  // A burst of arrivals (a hub with several modems) while the report is being made must not
  // overflow the socket; the size is a request, the kernel caps it.
  lib->udev_monitor_set_receive_buffer_size(monitor, 1 << 20);
  const int fd = lib->udev_monitor_get_fd(monitor);
  if (fd < 0 || ::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) return fail("udev monitor: no descriptor");
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return fail("udev monitor: no descriptor");
  return made;
}

UdevMonitor::UdevMonitor(Key, udev* context, udev_monitor* monitor, std::string source)
    : udev_(context), monitor_(monitor), source_(std::move(source)) {}

// A monitor exists only once libudev is loaded.
UdevMonitor::~UdevMonitor() {
  libudev(nullptr)->udev_monitor_unref(monitor_);
  libudev(nullptr)->udev_unref(udev_);
}

int UdevMonitor::descriptor() const { return libudev(nullptr)->udev_monitor_get_fd(monitor_); }

std::vector<DeviceEvent> UdevMonitor::drain() {
  std::vector<DeviceEvent> events;
  // receive_device gives null both when nothing waits and for a message it drops (another
  // sender's, one the filter rejects); the descriptor tells the two apart.
  const LibUdev* lib = libudev(nullptr);
  for (;;) {
    udev_device* device = lib->udev_monitor_receive_device(monitor_);
    if (device) {
      events.push_back(DeviceEvent{text(lib->udev_device_get_action(device)), text(lib->udev_device_get_syspath(device)),
                                   text(lib->udev_device_get_subsystem(device)),
                                   text(lib->udev_device_get_devtype(device))});
      lib->udev_device_unref(device);
      continue;
    }
    char probe;
    if (::recv(lib->udev_monitor_get_fd(monitor_), &probe, 1, MSG_PEEK | MSG_DONTWAIT) <= 0) break;
  }
  return events;
}

}  // namespace xr

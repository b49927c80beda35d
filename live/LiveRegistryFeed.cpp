#include "live/LiveRegistryFeed.h"

namespace xr {

LiveRegistryFeed::LiveRegistryFeed(std::unique_ptr<UdevMonitor> monitor, LiveRegistry& registry)
    : monitor_(std::move(monitor)), registry_(&registry) {}

const std::vector<std::string>& LiveRegistryFeed::subsystems() {
  // A port arrives as its tty; a family modem without a bound driver only as its USB device.
  static const std::vector<std::string> kSubsystems{"tty", "usb"};
  return kSubsystems;
}

void LiveRegistryFeed::detach() {
  std::lock_guard lock(mutex_);
  registry_ = nullptr;
}

int LiveRegistryFeed::descriptor() const { return monitor_->descriptor(); }

void LiveRegistryFeed::pump(RegistryStore& store) {
  std::lock_guard lock(mutex_);
  // Read everything now, even what is not wanted: a sender whose queue fills loses events.
  std::vector<DeviceEvent> events = monitor_->drain();
  if (!registry_ || &store != registry_->store().get()) return;
  for (const DeviceEvent& event : events) {
    // What leaves is taken out, so that what comes back at its sysfs path (the same socket,
    // another device) is read anew, and a port moved to another socket is not listed twice.
    if (event.action == "add" || event.action == "bind")
      registry_->addDevice(event.sysfsPath);
    else if (event.action == "remove")
      registry_->removeDevice(event.sysfsPath);
    else if (event.action == "unbind")
      registry_->removeDevice(event.sysfsPath + "/driver");
  }
}

}  // namespace xr

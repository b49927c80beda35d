#pragma once

#include <memory>
#include <mutex>

#include "live/LiveRegistry.h"
#include "live/UdevMonitor.h"
#include "platform/RegistryStore.h"

namespace xr {

// Keeps the live registry current: every device the monitor reports added becomes its
// registry entries (LiveRegistry::addDevice), which fire first-match notifications as any
// added entry does; every device removed, or driver unbound, takes its entries out
// (LiveRegistry::removeDevice). Set on the live registry's store, it is pumped by the run-loop
// sources of the store's notification ports (and of xrreport --watch) whenever the monitor is
// readable.
class LiveRegistryFeed : public RegistryFeed {
 public:
  // The monitor must have been opened before the registry was built, so nothing arriving in
  // between is missed; what the walk already found is not added twice.
  LiveRegistryFeed(std::unique_ptr<UdevMonitor> monitor, LiveRegistry& registry);

  int descriptor() const override;
  void pump(RegistryStore& store) override;
  // From now on events are read and dropped: the registry is going. Whoever still holds the
  // feed (a notification port's pump on another thread) then never reaches it.
  void detach();

  // The subsystems whose devices make entries.
  static const std::vector<std::string>& subsystems();

 private:
  std::mutex mutex_;  // LiveRegistry is built on by one thread at a time
  std::unique_ptr<UdevMonitor> monitor_;
  LiveRegistry* registry_;  // null once detached
};

}  // namespace xr

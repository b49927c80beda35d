#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/Value.h"

namespace xr {

struct Notification {
  std::string name;
  const void* object = nullptr;  // the sender; nullptr for none
  DictionaryRef userInfo;
};

// Delivers notifications by name, synchronously on the posting thread, to every observer
// registered for that name (and for that sender, or for any sender).
class NotificationCenter {
 public:
  using Callback = std::function<void(const Notification&)>;

  // The process-wide centre.
  static NotificationCenter& defaultCenter();

  NotificationCenter();
  ~NotificationCenter();
  NotificationCenter(const NotificationCenter&) = delete;
  NotificationCenter& operator=(const NotificationCenter&) = delete;

  // observer identifies the registration (any address); object nullptr means any sender.
  void addObserver(const void* observer, std::string name, const void* object, Callback callback);
  // Removes every registration of observer. Does not return while a callback to that observer
  // runs on another thread; a callback may remove its own observer.
  void removeObserver(const void* observer);
  // Removes the registrations of observer for that name (empty: any) and sender (nullptr: any),
  // with the same waiting rule.
  void removeObserver(const void* observer, const std::string& name, const void* object);

  void post(const Notification& notification);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace xr

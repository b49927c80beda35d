#include "platform/NotificationCenter.h"

#include "platform/CallbackGate.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace xr {

namespace {
struct Registration {
  const void* observer;
  std::string name;
  const void* object;
  NotificationCenter::Callback callback;
  bool removed = false;
  CallbackGate running;  // threads inside this registration's callback
};

bool matches(const Registration& r, const std::string& name, const void* object) {
  return (name.empty() || r.name == name) && (object == nullptr || r.object == object);
}
}  // namespace

struct NotificationCenter::Impl {
  std::mutex mutex;
  std::condition_variable callbackEnded;
  std::vector<std::shared_ptr<Registration>> registrations;

  // Unregisters and waits until no other thread is inside a callback of those registrations.
  // Calls on this thread are not waited for: a callback may remove its own observer.
  void remove(const void* observer, const std::string& name, const void* object) {
    std::unique_lock lock(mutex);
    std::vector<std::shared_ptr<Registration>> gone;
    std::erase_if(registrations, [&](const std::shared_ptr<Registration>& r) {
      if (r->observer != observer || !matches(*r, name, object)) return false;
      r->removed = true;
      gone.push_back(r);
      return true;
    });
    callbackEnded.wait(lock, [&] {
      return std::all_of(gone.begin(), gone.end(),
                         [](const std::shared_ptr<Registration>& r) { return r->running.idleButForCaller(); });
    });
  }
};

NotificationCenter& NotificationCenter::defaultCenter() {
  static NotificationCenter center;
  return center;
}

NotificationCenter::NotificationCenter() : impl_(std::make_unique<Impl>()) {}
NotificationCenter::~NotificationCenter() = default;

void NotificationCenter::addObserver(const void* observer, std::string name, const void* object,
                                     Callback callback) {
  auto r = std::make_shared<Registration>(
      Registration{observer, std::move(name), object, std::move(callback), false, {}});
  std::lock_guard lock(impl_->mutex);
  impl_->registrations.push_back(std::move(r));
}

void NotificationCenter::removeObserver(const void* observer) { impl_->remove(observer, "", nullptr); }

void NotificationCenter::removeObserver(const void* observer, const std::string& name, const void* object) {
  impl_->remove(observer, name, object);
}

void NotificationCenter::post(const Notification& notification) {
  std::vector<std::shared_ptr<Registration>> targets;
  {
    std::lock_guard lock(impl_->mutex);
    for (const auto& r : impl_->registrations) {
      if (r->name == notification.name && (r->object == nullptr || r->object == notification.object)) {
        targets.push_back(r);
      }
    }
  }
  for (const auto& r : targets) {
    {
      // Checked per callback: an observer removed by an earlier callback of this post, or by
      // another thread meanwhile, is not called any more.
      std::lock_guard lock(impl_->mutex);
      if (r->removed) continue;
      r->running.enter();
    }
    r->callback(notification);
    std::lock_guard lock(impl_->mutex);
    r->running.leave();
    if (r->removed) impl_->callbackEnded.notify_all();
  }
}

}  // namespace xr

#pragma once

#include <utility>

#include "platform/Registry.h"

namespace xr {

// Owns one registry handle and gives it back with GiveBack when it goes.
template <RegistryStatus (*GiveBack)(RegistryHandle)>
class RegistryOwner {
 public:
  RegistryOwner() = default;
  explicit RegistryOwner(RegistryHandle handle) : handle_(handle) {}
  ~RegistryOwner() { reset(); }
  RegistryOwner(RegistryOwner&& other) noexcept : handle_(std::exchange(other.handle_, 0)) {}
  RegistryOwner& operator=(RegistryOwner&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = std::exchange(other.handle_, 0);
    }
    return *this;
  }
  RegistryOwner(const RegistryOwner&) = delete;
  RegistryOwner& operator=(const RegistryOwner&) = delete;

  RegistryHandle get() const { return handle_; }
  explicit operator bool() const { return handle_ != 0; }
  // For the Registry functions that hand a handle out through a pointer.
  RegistryHandle* receive() {
    reset();
    return &handle_;
  }
  // Gives the handle back now; the status of doing so (success when there was none).
  RegistryStatus reset() {
    if (!handle_) return kRegistrySuccess;
    return GiveBack(std::exchange(handle_, 0));
  }

 private:
  RegistryHandle handle_ = 0;
};

using RegistryObject = RegistryOwner<RegistryRelease>;  // an entry or an iterator
using RegistryAccess = RegistryOwner<RegistryClose>;

}  // namespace xr

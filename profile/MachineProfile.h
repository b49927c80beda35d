#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/PlatformRoot.h"
#include "platform/RegistryStore.h"
#include "profile/ScriptedModem.h"

namespace xr {

// A machine profile: a directory describing one machine, reported on instead of this one.
//   root/          the platform root: files at their fixed paths
//   registry.json  the device registry snapshot (optional)
//   modem.json     the scripted internal modem (optional)
// While a MachineProfile lives, the process reports on that machine; destroying it gives back
// everything it set up (the platform root included).
class MachineProfile {
 public:
  // nullptr and a one-line message naming the file and the fault when the profile is unusable.
  static std::unique_ptr<MachineProfile> open(const std::string& directory, std::string* error);

  ~MachineProfile();
  MachineProfile(const MachineProfile&) = delete;
  MachineProfile& operator=(const MachineProfile&) = delete;

  const std::string& directory() const { return directory_; }
  // directory/name
  std::string file(const std::string& name) const;
  // The scripted internal modem; nullptr when the profile has none.
  ScriptedModem* modem() const { return modem_.get(); }

 private:
  struct Key {};  // only open() makes profiles

 public:
  MachineProfile(Key, std::string directory);

 private:
  bool useRoot(std::string* error);
  bool loadRegistry(std::string* error);
  bool startModem(std::string* error);

  std::string directory_;
  std::optional<ScopedPlatformRoot> root_;
  std::optional<ScopedRegistry> registry_;
  std::unique_ptr<ScriptedModem> modem_;
};

}  // namespace xr

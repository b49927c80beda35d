#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/XRReporter.h"
#include "platform/Bundle.h"

namespace xr {

// One loaded plug-in bundle: a NAME.xrplugin directory holding exactly one shared object that
// exports the plug-in symbols of host/XRReporter.h, its resources and its string table. A
// bundle built for another plug-in ABI is refused before any of its code is called. Owns the
// library handle and the principal reporter; the reporter is destroyed before the handle is
// given back.
class PluginBundle {
 public:
  // nullptr and a one-line message naming the file and the fault when the bundle is unusable.
  static std::unique_ptr<PluginBundle> load(const std::string& directory, std::string* error);

  ~PluginBundle();
  PluginBundle(const PluginBundle&) = delete;
  PluginBundle& operator=(const PluginBundle&) = delete;

  // The bundle's name: its directory name without ".xrplugin".
  const std::string& name() const { return name_; }
  // XRPluginVersion: the bundle's own version.
  const std::string& version() const { return version_; }
  const Bundle& bundle() const { return bundle_; }
  XRReporter& principalReporter() const { return *reporter_; }

 private:
  struct LibraryCloser {
    void operator()(void* handle) const;
  };
  struct Key {};  // only load() makes bundles

 public:
  PluginBundle(Key, std::string directory, std::string version, std::unique_ptr<void, LibraryCloser> library,
               std::unique_ptr<XRReporter> reporter);

 private:
  std::string name_;
  std::string version_;
  Bundle bundle_;
  // Declared before reporter_ so it is destroyed after it: the reporter's code lives in it.
  std::unique_ptr<void, LibraryCloser> library_;
  std::unique_ptr<XRReporter> reporter_;
};

}  // namespace xr

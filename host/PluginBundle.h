#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/XRReporter.h"
#include "platform/Bundle.h"

namespace xr {

// One loaded plug-in bundle: a NAME.xrplugin directory holding exactly one shared object that
// exports XRPluginCreatePrincipalReporter, its resources and its string table. Owns the
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
  const Bundle& bundle() const { return bundle_; }
  XRReporter& principalReporter() const { return *reporter_; }

 private:
  struct LibraryCloser {
    void operator()(void* handle) const;
  };
  struct Key {};  // only load() makes bundles

 public:
  PluginBundle(Key, std::string directory, std::unique_ptr<void, LibraryCloser> library,
               std::unique_ptr<XRReporter> reporter);

 private:
  std::string name_;
  Bundle bundle_;
  // Declared before reporter_ so it is destroyed after it: the reporter's code lives in it.
  std::unique_ptr<void, LibraryCloser> library_;
  std::unique_ptr<XRReporter> reporter_;
};

// The *.xrplugin directories directly inside directory, sorted by name.
std::vector<std::string> findPluginBundles(const std::string& directory);

}  // namespace xr

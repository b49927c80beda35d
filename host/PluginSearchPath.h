#pragma once

#include <optional>
#include <string>
#include <vector>

namespace xr {

// Where xrreport looks for plug-in bundles, in order: the colon-separated directories of
// XRREPORT_PLUGIN_PATH, the executable's own directory (the build tree), the installed plug-in
// directory. The last is found relative to the executable, so a moved installation still
// finds its plug-ins. Never the current directory.
class PluginSearchPath {
 public:
  struct Directory {
    std::string path;
    bool named;  // given in XRREPORT_PLUGIN_PATH: it must exist
  };

  // pluginPath: XRREPORT_PLUGIN_PATH's value, nullptr when unset; empty entries are skipped
  // rather than read as ".". executableDirectory: nullopt when it cannot be found, which
  // leaves the installed directory at its configured absolute path.
  PluginSearchPath(const char* pluginPath, const std::optional<std::string>& executableDirectory);

  // From the environment and /proc/self/exe.
  static PluginSearchPath forThisProcess();

  const std::vector<Directory>& directories() const { return directories_; }

  // The *.xrplugin paths, sorted by bundle name; a name found in an earlier directory hides
  // the same name in later ones. nullopt, with a one-line message naming the directory, when
  // a named directory is missing or unreadable.
  std::optional<std::vector<std::string>> bundles(std::string* error) const;

  // The directories joined by ':', for messages.
  std::string text() const;

 private:
  std::vector<Directory> directories_;
};

}  // namespace xr

#include "host/PluginSearchPath.h"

#include <cstdlib>
#include <filesystem>
#include <map>
#include <system_error>

namespace xr {
namespace {
namespace fs = std::filesystem;

constexpr std::string_view kBundleExtension = ".xrplugin";
}  // namespace

PluginSearchPath::PluginSearchPath(const char* pluginPath, const std::optional<std::string>& executableDirectory) {
  if (pluginPath) {
    std::string_view rest = pluginPath;
    while (!rest.empty()) {
      const size_t colon = rest.find(':');
      const std::string_view entry = rest.substr(0, colon);
      if (!entry.empty()) directories_.push_back({std::string(entry), true});
      rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    }
  }
  if (executableDirectory) {
    directories_.push_back({*executableDirectory, false});
    directories_.push_back(
        {(fs::path(*executableDirectory) / XR_PLUGINDIR_FROM_BINDIR).lexically_normal().string(), false});
  } else {
    directories_.push_back({XR_FULL_PLUGINDIR, false});
  }
}

PluginSearchPath PluginSearchPath::forThisProcess() {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  std::optional<std::string> directory;
  if (!ec && self.is_absolute()) directory = self.parent_path().string();
  return PluginSearchPath(std::getenv("XRREPORT_PLUGIN_PATH"), directory);
}

std::optional<std::vector<std::string>> PluginSearchPath::bundles(std::string* error) const {
  std::map<std::string, std::string> byName;  // sorted, first directory wins
  for (const Directory& directory : directories_) {
    std::error_code ec;
    fs::directory_iterator it(directory.path, ec);
    if (ec) {
      if (!directory.named) continue;
      if (error) *error = directory.path + ": plug-in directory in XRREPORT_PLUGIN_PATH cannot be read: " + ec.message();
      return std::nullopt;
    }
    for (fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
      const std::string name = it->path().filename().string();
      if (name.size() > kBundleExtension.size() && name.ends_with(kBundleExtension))
        byName.emplace(name, it->path().string());
    }
    if (ec && directory.named) {
      if (error) *error = directory.path + ": plug-in directory in XRREPORT_PLUGIN_PATH cannot be read: " + ec.message();
      return std::nullopt;
    }
  }
  std::vector<std::string> paths;
  for (auto& [name, path] : byName) paths.push_back(std::move(path));
  return paths;
}

std::string PluginSearchPath::text() const {
  std::string joined;
  for (const Directory& directory : directories_) {
    if (!joined.empty()) joined += ':';
    joined += directory.path;
  }
  return joined;
}

}  // namespace xr

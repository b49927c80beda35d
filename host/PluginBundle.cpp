#include "host/PluginBundle.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>

namespace xr {
namespace {
namespace fs = std::filesystem;

constexpr std::string_view kBundleExtension = ".xrplugin";
constexpr const char* kFactorySymbol = "XRPluginCreatePrincipalReporter";
constexpr const char* kABIVersionSymbol = "XRPluginABIVersion";
constexpr const char* kVersionSymbol = "XRPluginVersion";

bool endsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// dlerror() text is usually "PATH: reason"; the message names the path once already.
std::string loaderFault(const std::string& path) {
  const char* text = ::dlerror();
  std::string fault = text ? text : "cannot be loaded";
  std::string prefix = path + ": ";
  if (fault.starts_with(prefix)) fault.erase(0, prefix.size());
  return fault;
}
}  // namespace

void PluginBundle::LibraryCloser::operator()(void* handle) const {
  if (handle) ::dlclose(handle);
}

PluginBundle::PluginBundle(Key, std::string directory, std::string version,
                           std::unique_ptr<void, LibraryCloser> library, std::unique_ptr<XRReporter> reporter)
    : name_(fs::path(directory).filename().string()),
      version_(std::move(version)),
      bundle_(std::move(directory)),
      library_(std::move(library)),
      reporter_(std::move(reporter)) {
  if (endsWith(name_, kBundleExtension)) name_.resize(name_.size() - kBundleExtension.size());
}

PluginBundle::~PluginBundle() = default;

std::unique_ptr<PluginBundle> PluginBundle::load(const std::string& directory, std::string* error) {
  auto fail = [error](std::string message) -> std::unique_ptr<PluginBundle> {
    if (error) *error = std::move(message);
    return nullptr;
  };
  std::error_code ec;
  if (!fs::is_directory(directory, ec)) return fail(directory + ": plug-in bundle is not a directory");

  std::vector<std::string> objects;
  for (fs::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().extension() == ".so") objects.push_back(it->path().string());
  }
  if (ec) return fail(directory + ": plug-in bundle cannot be read: " + ec.message());
  if (objects.empty()) return fail(directory + ": plug-in bundle holds no shared object");
  if (objects.size() > 1) return fail(directory + ": plug-in bundle holds more than one shared object");
  const std::string& object = objects.front();

  // RTLD_NODELETE: a plug-in may leave a detached thread or a static object behind whose code
  // must stay mapped until the process ends, even after the handle is given back.
  std::unique_ptr<void, LibraryCloser> library(::dlopen(object.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE));
  if (!library) return fail(object + ": plug-in cannot be loaded: " + loaderFault(object));

  // Both versions are data: reading them runs none of the bundle's code.
  const auto* abi = static_cast<const unsigned*>(::dlsym(library.get(), kABIVersionSymbol));
  if (!abi) return fail(object + ": plug-in does not export " + kABIVersionSymbol + ", built for an older xrreport");
  if (*abi != XR_PLUGIN_ABI_VERSION) {
    return fail(object + ": plug-in built for plug-in ABI " + std::to_string(*abi) + ", this xrreport loads ABI " +
                std::to_string(XR_PLUGIN_ABI_VERSION));
  }
  const auto* version = static_cast<const char*>(::dlsym(library.get(), kVersionSymbol));
  if (!version) return fail(object + ": plug-in does not export " + kVersionSymbol);

  void* symbol = ::dlsym(library.get(), kFactorySymbol);
  if (!symbol) return fail(object + ": plug-in does not export " + kFactorySymbol);
  auto factory = reinterpret_cast<decltype(&XRPluginCreatePrincipalReporter)>(symbol);

  std::unique_ptr<XRReporter> reporter(factory());
  if (!reporter) return fail(object + ": plug-in made no principal reporter");
  return std::make_unique<PluginBundle>(Key{}, directory, version, std::move(library), std::move(reporter));
}

}  // namespace xr

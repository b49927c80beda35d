#include "host/MachineProfile.h"

#include <filesystem>
#include <system_error>

#include "platform/Json.h"

namespace xr {
namespace {
namespace fs = std::filesystem;

// Profiles come from users; bound them before parsing.
const JsonLimits kProfileLimits{64, 64u * 1024 * 1024};

// The JSON object in an optional profile file. A missing file is an absent object, not a fault.
bool readOptionalObject(const std::string& path, DictionaryRef* object, std::string* error) {
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(path, ec))) return true;
  if (fs::is_directory(path, ec)) {
    *error = path + ": is a directory, not a file";
    return false;
  }
  JsonResult result = readJsonFile(path, kProfileLimits);
  if (!result.ok()) {
    *error = result.error;
    return false;
  }
  *object = result.value.dictionary();
  if (!*object) {
    *error = path + ": expected a JSON object, found " + typeName(result.value.type());
    return false;
  }
  return true;
}
}  // namespace

MachineProfile::MachineProfile(Key, std::string directory) : directory_(std::move(directory)) {}

MachineProfile::~MachineProfile() = default;

std::string MachineProfile::file(const std::string& name) const { return (fs::path(directory_) / name).string(); }

std::unique_ptr<MachineProfile> MachineProfile::open(const std::string& directory, std::string* error) {
  std::string fault;
  std::error_code ec;
  std::unique_ptr<MachineProfile> profile;
  if (!fs::exists(directory, ec)) {
    fault = directory + ": machine profile does not exist";
  } else if (!fs::is_directory(directory, ec)) {
    fault = directory + ": machine profile is not a directory";
  } else {
    profile = std::make_unique<MachineProfile>(Key{}, fs::absolute(directory, ec).lexically_normal().string());
    // The modem needs the registry entry it attaches to, so the registry comes first.
    if (!profile->useRoot(&fault) || !profile->loadRegistry(&fault) || !profile->startModem(&fault)) profile.reset();
  }
  if (!profile && error) *error = fault;
  return profile;
}

bool MachineProfile::useRoot(std::string* error) {
  std::string root = file("root");
  std::error_code ec;
  // A profile without root/ describes a machine with no files at the fixed paths.
  if (fs::exists(root, ec) && !fs::is_directory(root, ec)) {
    *error = root + ": platform root is not a directory";
    return false;
  }
  root_.emplace(root);
  return true;
}

// registry.json: the device registry snapshot the hardware probes see.
bool MachineProfile::loadRegistry(std::string* error) {
  DictionaryRef snapshot;
  if (!readOptionalObject(file("registry.json"), &snapshot, error)) return false;
  // The registry is filled from the snapshot here once its loader exists.
  return true;
}

// modem.json: the scripted internal modem, run on a pseudo-terminal for this profile's life.
bool MachineProfile::startModem(std::string* error) {
  DictionaryRef script;
  if (!readOptionalObject(file("modem.json"), &script, error)) return false;
  // The scripted modem is started here, and owned by this profile, once it exists.
  return true;
}

}  // namespace xr

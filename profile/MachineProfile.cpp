#include "profile/MachineProfile.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/Json.h"
#include "platform/RegistrySnapshot.h"

namespace xr {
namespace {
namespace fs = std::filesystem;

// Profiles come from users; bound them before parsing.
const JsonLimits kModemScriptLimits{64, ModemScript::kMaxFileBytes};

// Whether something is at path. Only "no such file" is absence: a directory that cannot be
// searched is a fault, not an empty machine.
bool presentAt(const std::string& path, bool* present, mode_t* type, std::string* error) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    *present = true;
    *type = st.st_mode & S_IFMT;
    return true;
  }
  const int err = errno;
  *type = 0;
  if (err == ENOENT) {
    // A dangling link is present: reading it then says what is wrong.
    *present = ::lstat(path.c_str(), &st) == 0;
    return true;
  }
  *present = false;
  *error = path + ": " + std::strerror(err);
  return false;
}

// An optional profile file. A FIFO, a device or a directory there is no file and reads as
// absent, as it does at the platform root's fixed paths; a file that cannot be read is a fault.
bool optionalFile(const std::string& path, bool* present, std::string* error) {
  mode_t type;
  if (!presentAt(path, present, &type, error)) return false;
  if (*present && type != 0 && type != S_IFREG) *present = false;
  return true;
}

// The JSON object in an optional profile file. A missing file is an absent object, not a fault.
bool readOptionalObject(const std::string& path, DictionaryRef* object, std::string* error) {
  bool present;
  if (!optionalFile(path, &present, error)) return false;
  if (!present) return true;
  JsonResult result = readJsonFile(path, kModemScriptLimits);
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
  const fs::file_status status = fs::status(directory, ec);
  if (ec && status.type() != fs::file_type::not_found) {
    fault = directory + ": " + ec.message();  // there may be one, but it cannot be reached
  } else if (!fs::exists(status)) {
    fault = directory + ": machine profile does not exist";
  } else if (!fs::is_directory(status)) {
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
  bool present;
  mode_t type;
  if (!presentAt(root, &present, &type, error)) return false;
  // A profile without root/ describes a machine with no files at the fixed paths.
  if (present && type != S_IFDIR) {
    *error = root + ": platform root is not a directory";
    return false;
  }
  root_.emplace(root);
  return true;
}

// registry.json: the device registry snapshot the hardware probes see.
// Without one the machine has an empty registry, not the one of whoever runs the report.
bool MachineProfile::loadRegistry(std::string* error) {
  std::string path = file("registry.json");
  bool present;
  if (!optionalFile(path, &present, error)) return false;
  std::shared_ptr<RegistryStore> registry;
  if (present) {
    RegistrySnapshotResult snapshot = readRegistrySnapshot(path);
    if (!snapshot.ok()) {
      *error = snapshot.error;
      return false;
    }
    registry = snapshot.registry;
  }
  registry_.emplace(registry ? registry : RegistryStore::create());
  return true;
}

// modem.json: the scripted internal modem, run on a pseudo-terminal for this profile's life.
bool MachineProfile::startModem(std::string* error) {
  const std::string path = file("modem.json");
  DictionaryRef json;
  if (!readOptionalObject(path, &json, error)) return false;
  if (!json) return true;
  std::string fault;
  std::optional<ModemScript> script = ModemScript::fromValue(Value(json), &fault);
  const std::string portName = script ? script->port : "";
  if (script) modem_ = ScriptedModem::start(std::move(*script), &fault);
  if (!modem_) {
    *error = path + ": " + fault;
    return false;
  }
  // The pty's name is known only now: the registry's port the modem sits on is pointed at it.
  // For "modem" that is the port the plug-in opens: the last stream port of that name, as the
  // serial port list finds them.
  const auto registry = RegistryStore::current();
  const std::vector<const RegistryEntry*> ports = registry->matchingEntries(Dictionary{
      {"class", Value("HwSerialBSDClient")}, {"HwSerialBSDClientType", Value("HwSerialStream")},
      {"HwTTYDevice", Value(portName)}});
  if (!ports.empty()) registry->setProperty(ports.back(), "HwCalloutDevice", modem_->devicePath());
  return true;
}

}  // namespace xr

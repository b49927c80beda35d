#include "profile/MachineCapture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <system_error>
#include <utility>

#include "platform/BlockedSignals.h"
#include "platform/Json.h"
#include "platform/PlatformRoot.h"
#include "platform/Process.h"
#include "platform/RegistrySnapshot.h"
#include "platform/RegularFile.h"
#include "serial/DeviceElsewhere.h"
#include "serial/PortHolders.h"
#include "serial/SerialPortList.h"
#include "serial/UUCPLock.h"

namespace xr {
namespace {
namespace fs = std::filesystem;

const char kDriverListing[] = "/usr/sbin/drvxstat";
const char kInternalModemPort[] = "modem";  // a modem.json's port when it names none
// Far above any preferences file or bundle information the plug-in reads.
constexpr size_t kCopiedFileBytes = 16u << 20;

bool fail(std::string* error, const std::string& message) {
  if (error) *error = message;
  return false;
}

// A serial stream port of the registry as the modem-ports plug-in reads it: the paths a
// process may hold it by (its device path first) and the names its lock files go by.
struct CapturedPort {
  PortPaths paths;
  std::vector<std::string> names;
};

std::vector<CapturedPort> serialPorts() {
  const RegistryStore& registry = *RegistryStore::current();
  const Dictionary streams{{"class", "HwSerialBSDClient"}, {"HwSerialBSDClientType", "HwSerialStream"}};
  std::vector<CapturedPort> ports;
  for (const RegistryEntry* entry : registry.matchingEntries(streams)) {
    const Dictionary properties = registry.properties(entry);
    CapturedPort port;
    for (const char* key : {"devicePath", "HwCalloutDevice", "HwDialinDevice"}) {
      if (auto path = properties.get(key).stringValue(); path && !path->empty()) port.paths.push_back(*path);
    }
    if (auto links = properties.get("deviceLinks").array()) {
      for (const Value& link : *links)
        if (auto text = link.string(); text && !text->empty()) port.paths.push_back(*text);
    }
    port.names.push_back(properties.get("kernelName").stringValue().value_or(entry->name()));
    if (auto tty = properties.get("HwTTYDevice").stringValue(); tty && !tty->empty() && *tty != port.names[0])
      port.names.push_back(*tty);
    ports.push_back(std::move(port));
  }
  return ports;
}

// Every serial port of a snapshot's entry and below but the one named played (the port its
// scripted modem answers on, "" for none) is marked as a device of this machine: a replay
// elsewhere does not open it.
void markPortsNotPlayed(const Value& entry, const std::string& played) {
  const DictionaryRef object = entry.dictionary();
  if (!object) return;
  if (object->get("class").stringValue() == "HwSerialBSDClient") {
    const DictionaryRef properties = object->get("properties").dictionary();
    if (properties && properties->get("HwTTYDevice").stringValue() != played)
      properties->set(kDeviceElsewhereKey, Value(true));
  }
  if (const ArrayRef children = object->get("children").array()) {
    for (const Value& child : *children) markPortsNotPlayed(child, played);
  }
}

}  // namespace

MachineCapture::MachineCapture(Key, std::string directory, FileDescriptor directoryFd, bool madeDirectory)
    : directory_(std::move(directory)),
      directoryFd_(std::move(directoryFd)),
      recording_(std::make_shared<Recording>()),
      madeDirectory_(madeDirectory) {
  if (madeDirectory_) {
    std::error_code ec;
    directoryCleanup_ = CleanupEntry(SignalCleanup::addDirectory(fs::absolute(directory_, ec).string()));
  }
}

FileDescriptor MachineCapture::openDirectories(std::string_view relative, std::string* error, bool make) const {
  std::string walked = directory_;
  std::string inside;
  FileDescriptor dir(::fcntl(directoryFd_.get(), F_DUPFD_CLOEXEC, 0));
  while (dir && !relative.empty()) {
    const size_t slash = relative.find('/');
    const std::string name(relative.substr(0, slash));
    relative = slash == std::string_view::npos ? std::string_view() : relative.substr(slash + 1);
    if (name.empty()) continue;
    walked += "/" + name;
    inside += (inside.empty() ? "" : "/") + name;
    if (name == "." || name == "..") {
      errno = EINVAL;
      dir.reset();
      continue;
    }
    if (make && ::mkdirat(dir.get(), name.c_str(), 0755) == 0) {
      made_.push_back({inside, true});
    } else if (make && errno != EEXIST) {
      dir.reset();
      continue;
    }
    dir = FileDescriptor(::openat(dir.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  }
  if (!dir) fail(error, walked + ": " + std::strerror(errno));
  return dir;
}

FileDescriptor MachineCapture::openParent(std::string_view relative, std::string* name, std::string* error,
                                          bool make) const {
  const size_t slash = relative.rfind('/');
  *name = std::string(slash == std::string_view::npos ? relative : relative.substr(slash + 1));
  return openDirectories(slash == std::string_view::npos ? std::string_view() : relative.substr(0, slash), error,
                         make);
}

bool MachineCapture::writeFile(std::string_view relative, std::string_view bytes, mode_t mode,
                               std::string* error) const {
  std::string name;
  const FileDescriptor dir = openParent(relative, &name, error);
  if (!dir) return false;
  FileDescriptor fd(::openat(dir.get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
  if (fd) made_.push_back({std::string(relative), false});
  if (!fd || posix::write(fd.get(), bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
    return fail(error, directory_ + "/" + std::string(relative) + ": cannot be written: " + std::strerror(errno));
  return true;
}

bool MachineCapture::makeLink(std::string_view relative, const std::string& target, std::string* error) const {
  std::string name;
  const FileDescriptor dir = openParent(relative, &name, error);
  if (!dir) return false;
  if (::symlinkat(target.c_str(), dir.get(), name.c_str()) != 0)
    return fail(error, directory_ + "/" + std::string(relative) + ": " + std::strerror(errno));
  made_.push_back({std::string(relative), false});
  return true;
}

// Names inside the directory, reached as they were made: never through a link, so nothing a
// link put there (by whoever else can write to it) leads to is touched. Once only.
void MachineCapture::discard() {
  for (auto made = made_.rbegin(); made != made_.rend(); ++made) {
    std::string name, ignored;
    if (const FileDescriptor dir = openParent(made->relative, &name, &ignored, false))
      ::unlinkat(dir.get(), name.c_str(), made->directory ? AT_REMOVEDIR : 0);
  }
  made_.clear();
  directoryFd_.reset();
  directoryCleanup_.reset();  // withdrawn before it is removed here
  if (std::exchange(madeDirectory_, false)) ::rmdir(directory_.c_str());
}

MachineCapture::~MachineCapture() {
  setTraceSink(nullptr);
  if (!finished_) discard();
}

const std::vector<std::string>& MachineCapture::platformFiles() {
  static const std::vector<std::string> files = [] {
    std::vector<std::string> out = {"/var/db/modem.prefs", "/Library/Preferences/ByHost/GlobalPreferences.json"};
    for (const char* driver : {"InternalUSBModem", "TarvoSCCSerial", "MotorolaSM56K", "MotorolaSM56KUSB"})
      out.push_back(std::string("/System/Library/Extensions/HwSerialFamily.drvx/Contents/PlugIns/") + driver +
                    ".drvx/Contents/Info.json");
    return out;
  }();
  return files;
}

std::unique_ptr<MachineCapture> MachineCapture::begin(const std::string& directory, TraceSink forward,
                                                      std::string* error) {
  std::error_code ec;
  const bool existed = fs::exists(directory, ec);
  if (existed) {
    if (!fs::is_directory(directory, ec)) {
      fail(error, directory + ": exists and is not a directory; nothing captured");
      return nullptr;
    }
    if (!fs::is_empty(directory, ec) || ec) {
      fail(error, directory + ": exists and is not empty; nothing captured, nothing overwritten");
      return nullptr;
    }
  }
  fs::create_directories(directory, ec);
  FileDescriptor directoryFd(ec ? -1 : posix::open(directory.c_str(), O_RDONLY | O_DIRECTORY));
  if (!directoryFd) {
    fail(error, directory + ": " + (ec ? ec.message() : std::string(std::strerror(errno))));
    return nullptr;
  }
  auto capture = std::make_unique<MachineCapture>(Key{}, directory, std::move(directoryFd), !existed);
  // The serial layer traces from its reader thread too.
  setTraceSink([recording = capture->recording_, forward = std::move(forward)](std::string_view line) {
    if (std::optional<std::string> opened = parseOpenedLine(line)) {
      std::lock_guard lock(recording->mutex);
      auto& ports = recording->ports;
      auto known = std::find_if(ports.begin(), ports.end(), [&](const PortDialogue& d) { return d.path == *opened; });
      if (known == ports.end()) known = ports.insert(ports.end(), PortDialogue{*opened, {}});
      recording->current = static_cast<size_t>(known - ports.begin());
    } else if (std::optional<Transfer> t = parseTraceLine(line)) {
      std::lock_guard lock(recording->mutex);
      if (recording->ports.empty()) recording->ports.push_back(PortDialogue{});
      recording->ports[recording->current].transfers.push_back(std::move(*t));
    }
    if (forward) forward(line);
  });
  return capture;
}

std::optional<std::string> MachineCapture::parseOpenedLine(std::string_view line) {
  constexpr std::string_view kNote = "note  ", kOpened = ": opened";
  const size_t blank = line.find(' ');
  if (blank == std::string_view::npos) return std::nullopt;
  std::string_view rest = line.substr(blank + 1);
  if (!rest.starts_with(kNote) || !rest.ends_with(kOpened) || rest.size() == kNote.size() + kOpened.size())
    return std::nullopt;
  return std::string(rest.substr(kNote.size(), rest.size() - kNote.size() - kOpened.size()));
}

std::optional<MachineCapture::Transfer> MachineCapture::parseTraceLine(std::string_view line) {
  size_t blank = line.find(' ');
  if (blank == std::string_view::npos) return std::nullopt;
  std::string_view rest = line.substr(blank + 1);
  bool write = rest.starts_with("write ");
  if (!write && !rest.starts_with("read ")) return std::nullopt;
  size_t open = rest.find('<'), close = rest.find('>');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) return std::nullopt;
  std::string hex;
  for (char c : rest.substr(open + 1, close - open - 1))
    if (c != ' ') hex += c;
  std::optional<Data> bytes = Data::fromHex(hex);
  if (!bytes) return std::nullopt;
  return Transfer{write, std::move(*bytes)};
}

std::optional<Value> MachineCapture::modemScript(const std::vector<Transfer>& dialogue) {
  auto raw = makeDictionary();
  auto silent = makeArray();
  bool answered = false;
  bool echo = true;
  bool echoKnown = false;
  for (size_t i = 0; i < dialogue.size(); ++i) {
    if (!dialogue[i].write) continue;
    std::string command = dialogue[i].bytes.asString();
    while (!command.empty() && (command.back() == '\r' || command.back() == '\n')) command.pop_back();
    std::string reply;
    for (size_t j = i + 1; j < dialogue.size() && !dialogue[j].write; ++j) reply += dialogue[j].bytes.asString();
    if (raw->contains(command)) continue;  // the first answer stands
    if (reply.empty()) {
      silent->push_back(command);
      continue;
    }
    answered = true;
    const std::string sent = dialogue[i].bytes.asString();
    if (!echoKnown) {
      echo = reply.starts_with(sent);
      echoKnown = true;
    }
    if (echo && reply.starts_with(sent)) reply.erase(0, sent.size());
    raw->set(command, Value(dataWithString(reply)));
  }
  if (!answered) return std::nullopt;
  auto script = makeDictionary();
  script->set("Echo", echo);
  script->set("RawResponses", raw);
  if (!silent->empty()) script->set("Silent", silent);
  return Value(script);
}

bool MachineCapture::writeDriverListing(std::string* error) const {
  const std::string tool = resolvePath(kDriverListing);
  if (::access(tool.c_str(), X_OK) != 0) return true;
  std::optional<Process::Result> listing = Process::run(tool, {"-l"});
  if (!listing || !listing->termination.success()) return true;  // no listing: the replay has no tool either
  // Prints the captured lines of the drivers named by -b<name> (one or more), in listing
  // order, as the tool does; the name is the sixth field of a line.
  std::string script =
      "#!/bin/sh\n"
      "# The driver listing of the captured machine, replayed.\n"
      "names=' '\n"
      "for arg in \"$@\"; do case \"$arg\" in -b*) names=\"$names${arg#-b} \" ;; esac; done\n"
      "awk -v names=\"$names\" 'index(names, \" \" $6 \" \")' <<'LISTING'\n" +
      listing->output + (listing->output.ends_with('\n') || listing->output.empty() ? "" : "\n") +
      "LISTING\n";
  return writeFile(std::string("root") + kDriverListing, script, 0755, error);
}

// Only what the ports' report shows: a holder's other descriptors and the processes that hold
// no port are none of ours to send. Read again after the report, so a process that opens or
// closes a port in between is captured as it is then.
bool MachineCapture::writePortUsers(std::string* error) const {
  const std::vector<CapturedPort> ports = serialPorts();
  if (ports.empty()) return true;
  const PortHolders holders(resolvePath("/proc"));
  const std::string proc = "root/proc/";
  // A process may come up more than once (a lock's owner may also be uninspected): its
  // directory is made each time, which is harmless, and its name written the first time it
  // is to be shown.
  std::set<int> named;
  auto writeProcess = [&](int pid, const std::optional<std::string>& name) {
    const std::string base = proc + std::to_string(pid);
    if (!openDirectories(base, error)) return false;
    return !name || !named.insert(pid).second || writeFile(base + "/comm", *name + "\n", 0644, error);
  };

  std::vector<PortPaths> paths;
  for (const CapturedPort& port : ports) paths.push_back(port.paths);
  const HolderScan scan = holders.scan(paths, ::getpid());
  std::map<int, int> nextFd;
  for (size_t i = 0; i < ports.size(); ++i) {
    if (ports[i].paths.empty()) continue;  // held by nothing then
    for (const ProcessRef& process : scan.holders[i]) {
      if (!writeProcess(process.pid, process.name)) return false;
      // Held by its device path, which the replayed report matches by text.
      const std::string link = proc + std::to_string(process.pid) + "/fd/" + std::to_string(nextFd[process.pid]++);
      if (!makeLink(link, ports[i].paths.front(), error)) return false;
    }
  }
  // Counted, not named, in the report.
  for (int pid : scan.uninspected) {
    if (!writeProcess(pid, std::nullopt) ||
        !writeFile(proc + std::to_string(pid) + "/fd", "", 0644, error))
      return false;
  }

  // Each lock directory once (/var/lock is often a link to /run/lock), under its fixed path.
  std::set<std::pair<dev_t, ino_t>> seen;
  std::set<std::string> copied;
  for (const char* directory : {"/var/lock", "/run/lock"}) {
    const std::string from = resolvePath(directory);
    struct stat st {};
    if (::stat(from.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || !seen.insert({st.st_dev, st.st_ino}).second)
      continue;
    for (const CapturedPort& port : ports) {
      for (const std::string& name : port.names) {
        const std::string file = UUCPLock::lockFileName(name);
        const std::string path = from + '/' + file;
        const std::string to = "root" + std::string(directory) + '/' + file;
        const RegularFileRead lock = readRegularFile(path, 4096);
        if (!lock.ok() || !copied.insert(to).second) continue;
        if (!writeFile(to, lock.contents, 0644, error)) return false;
        // A live owner is shown by name; a dead one stays dead.
        const std::optional<pid_t> owner = UUCPLock::recordedOwner(path);
        if (owner && *owner > 0 && holders.isAlive(*owner) && !writeProcess(*owner, holders.processName(*owner)))
          return false;
      }
    }
  }
  return true;
}

// One scripted modem per profile: the internal modem's when it answered, on its default port;
// else the first other port that answered, named in "Port" by the registry's name for it.
std::optional<MachineCapture::PlayedModem> MachineCapture::playedModem() const {
  std::vector<PortDialogue> dialogues;
  {
    std::lock_guard lock(recording_->mutex);
    dialogues = recording_->ports;
  }
  const SerialPortList ports;  // the names a modem.json's "Port" gives, by the path each is opened at
  std::optional<PlayedModem> chosen;
  for (const PortDialogue& dialogue : dialogues) {
    std::optional<Value> script = modemScript(dialogue.transfers);
    const std::optional<std::string> port =
        dialogue.path.empty() ? kInternalModemPort : ports.serialPortNameForSerialPortPath(dialogue.path);
    if (!script || !port) continue;  // no answer, or no port of the registry to play it on
    if (*port == kInternalModemPort) return PlayedModem{std::move(*script), *port};
    if (!chosen) {
      script->dictionary()->set("Port", *port);
      chosen = PlayedModem{std::move(*script), *port};
    }
  }
  return chosen;
}

bool MachineCapture::finish(std::string* error) {
  setTraceSink(nullptr);
  // A signal now ends the process once the profile is whole or taken back (a few files, and a
  // driver listing that is read in this process on a live machine).
  const BlockedSignals held = BlockedSignals::termination();
  if (!writeProfile(error)) {
    discard();
    return false;
  }
  finished_ = true;
  directoryCleanup_.reset();
  directoryFd_.reset();
  return true;
}

bool MachineCapture::writeProfile(std::string* error) const {
  const std::optional<PlayedModem> modem = playedModem();
  const Value registry = registrySnapshot(*RegistryStore::current());
  if (const DictionaryRef planes = registry.dictionary())
    markPortsNotPlayed(planes->get("HwService"), modem ? modem->port : "");
  if (!writeFile("registry.json", toJson(registry) + "\n", 0644, error)) return false;
  for (const std::string& file : platformFiles()) {
    const std::string from = resolvePath(file);
    const RegularFileRead read = readRegularFile(from, kCopiedFileBytes);
    if (read.fault == RegularFileRead::Fault::Missing || read.fault == RegularFileRead::Fault::NotRegular) continue;
    if (!read.ok()) return fail(error, from + ": " + read.describe(kCopiedFileBytes));
    if (!writeFile("root" + file, read.contents, 0644, error)) return false;
  }
  if (!writeDriverListing(error) || !writePortUsers(error)) return false;
  return !modem || writeFile("modem.json", toJson(modem->script) + "\n", 0644, error);
}

}  // namespace xr

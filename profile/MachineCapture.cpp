#include "profile/MachineCapture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>
#include <system_error>

#include "platform/Json.h"
#include "platform/PlatformRoot.h"
#include "platform/Process.h"
#include "platform/RegistrySnapshot.h"

namespace xr {
namespace {
namespace fs = std::filesystem;

const char kDriverListing[] = "/usr/sbin/drvxstat";

bool fail(std::string* error, const std::string& message) {
  if (error) *error = message;
  return false;
}

std::mutex& dialogueMutex() {
  static std::mutex m;
  return m;
}

// Makes the directories above path inside the profile.
bool makeParents(const std::string& path, std::string* error) {
  std::error_code ec;
  fs::create_directories(fs::path(path).parent_path(), ec);
  return !ec || fail(error, fs::path(path).parent_path().string() + ": " + ec.message());
}

}  // namespace

MachineCapture::MachineCapture(Key, std::string directory)
    : directory_(std::move(directory)), dialogue_(std::make_shared<std::vector<Transfer>>()) {}

MachineCapture::~MachineCapture() { setTraceSink(nullptr); }

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
  if (fs::exists(directory, ec)) {
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
  if (ec) {
    fail(error, directory + ": " + ec.message());
    return nullptr;
  }
  auto capture = std::make_unique<MachineCapture>(Key{}, directory);
  // The serial layer traces from its reader thread too.
  setTraceSink([dialogue = capture->dialogue_, forward = std::move(forward)](std::string_view line) {
    if (std::optional<Transfer> t = parseTraceLine(line)) {
      std::lock_guard lock(dialogueMutex());
      dialogue->push_back(std::move(*t));
    }
    if (forward) forward(line);
  });
  return capture;
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
  const std::string path = directory_ + "/root" + kDriverListing;
  if (!makeParents(path, error)) return false;
  {
    std::error_code ec;
    fs::remove(path, ec);
  }
  FileDescriptor fd(posix::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0755));
  if (!fd || posix::write(fd.get(), script.data(), script.size()) != static_cast<ssize_t>(script.size()))
    return fail(error, path + ": cannot be written");
  return true;
}

bool MachineCapture::finish(std::string* error) {
  setTraceSink(nullptr);
  std::string fault;
  if (!writeJsonFile(directory_ + "/registry.json", registrySnapshot(*RegistryStore::current()), &fault))
    return fail(error, fault);
  for (const std::string& file : platformFiles()) {
    const std::string from = resolvePath(file);
    std::error_code ec;
    if (!fs::is_regular_file(from, ec)) continue;
    const std::string to = directory_ + "/root" + file;
    if (!makeParents(to, error)) return false;
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
    if (ec) return fail(error, to + ": " + ec.message());
  }
  if (!writeDriverListing(error)) return false;
  std::vector<Transfer> dialogue;
  {
    std::lock_guard lock(dialogueMutex());
    dialogue = *dialogue_;
  }
  if (std::optional<Value> modem = modemScript(dialogue)) {
    if (!writeJsonFile(directory_ + "/modem.json", *modem, &fault)) return fail(error, fault);
  }
  return true;
}

}  // namespace xr

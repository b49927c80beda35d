// The driver listing of a Linux system: what xrdrvxstat prints, and what xrreport serves in
// process on this machine.
#include "tools/xrdrvxstat/DriverListing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string_view>

#include "platform/RegularFile.h"

namespace xr {
namespace {

struct Module {
  unsigned long long address = 0;
  unsigned long long size = 0;
  long refs = 0;
  std::string dependencies;  // blank-separated
  bool loaded = false;       // from /proc/modules (not built in)
};

// A small file's contents, at most limit bytes; nullopt when it cannot be read whole. Only a
// regular file (procfs and sysfs ones are): a Linux machine's profile could put a device there.
std::optional<std::string> readFile(const std::string& path, size_t limit) {
  RegularFileRead read = readRegularFile(path, limit);
  if (!read.ok()) return std::nullopt;
  return std::move(read.contents);
}

std::vector<std::string> list(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(path.c_str())) {
    while (const dirent* e = ::readdir(dir)) {
      if (e->d_name[0] != '.') names.emplace_back(e->d_name);
    }
    ::closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

// The buses where serial and modem drivers register come first: a driver found there ends
// the search after a few lookups instead of one for every bus.
std::vector<std::string> busesLikelyFirst(std::vector<std::string> buses) {
  static constexpr std::string_view kLikely[] = {"usb", "usb-serial", "pci", "platform", "pnp", "serial", "amba"};
  auto rank = [](const std::string& bus) {
    return std::find(std::begin(kLikely), std::end(kLikely), bus) - std::begin(kLikely);
  };
  std::stable_sort(buses.begin(), buses.end(),
                   [&](const std::string& a, const std::string& b) { return rank(a) < rank(b); });
  return buses;
}

// /proc/modules: "name size refs deps state address", deps "a,b," or "-".
void readLoadedModules(const std::string& root, std::map<std::string, Module>* modules) {
  std::optional<std::string> text = readFile(root + "/proc/modules", 4u << 20);
  if (!text) return;
  size_t start = 0;
  while (start < text->size()) {
    size_t end = text->find('\n', start);
    if (end == std::string::npos) end = text->size();
    std::string line = text->substr(start, end - start);
    start = end + 1;
    char name[256], deps[4096], state[32];
    unsigned long long size = 0, address = 0;
    long refs = 0;
    if (std::sscanf(line.c_str(), "%255s %llu %ld %4095s %31s %llx", name, &size, &refs, deps, state, &address) < 4)
      continue;
    Module m;
    m.size = size;
    m.refs = refs;
    m.address = address;
    m.loaded = true;
    if (std::strcmp(deps, "-") != 0) {
      std::string d = deps;
      std::replace(d.begin(), d.end(), ',', ' ');
      while (!d.empty() && d.back() == ' ') d.pop_back();
      m.dependencies = d;
    }
    (*modules)[name] = m;
  }
}

std::optional<std::string> moduleVersion(const std::string& root, const std::string& name) {
  std::optional<std::string> version = readFile(root + "/sys/module/" + name + "/version", 4096);
  if (!version) return std::nullopt;
  while (!version->empty() && (version->back() == '\n' || version->back() == ' ')) version->pop_back();
  // A version holding a parenthesis would end the listing's own parentheses early.
  if (version->empty() || version->find_first_of("()\n") != std::string::npos) return std::nullopt;
  return version;
}

}  // namespace

int listDrivers(const std::vector<std::string>& args, std::string root, std::string* output) {
  if (root == "/") root.clear();
  std::set<std::string> only;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-l") continue;
    if (arg.rfind("-b", 0) == 0) {
      only.insert(arg.substr(2));
    } else if (arg == "--root" && i + 1 < args.size()) {
      root = args[++i];
    } else {
      *output = "usage: xrdrvxstat [-l] [-bNAME]... [--root DIR]\n";
      return 2;
    }
  }
  std::map<std::string, Module> modules;
  readLoadedModules(root, &modules);
  if (!only.empty()) {
    // Named ones: look only where they could be, the report runs this on every report.
    std::vector<std::string> buses;
    for (const std::string& name : only) {
      if (modules.count(name)) continue;
      bool found = !name.empty() && name.find('/') == std::string::npos && name != "." && name != ".." &&
                   exists(root + "/sys/module/" + name);
      if (!found && !name.empty() && buses.empty()) buses = busesLikelyFirst(list(root + "/sys/bus"));
      for (const std::string& bus : found || name.empty() ? std::vector<std::string>() : buses)
        found = found || exists(root + "/sys/bus/" + bus + "/drivers/" + name);
      if (found) modules[name] = Module{};
    }
  } else {
    // Built-in modules: in /sys/module without the initstate a loaded module has.
    for (const std::string& name : list(root + "/sys/module")) {
      if (!modules.count(name) && !exists(root + "/sys/module/" + name + "/initstate")) modules[name] = Module{};
    }
    // Drivers whose module has no entry of its own: built in without parameters.
    for (const std::string& bus : list(root + "/sys/bus")) {
      for (const std::string& driver : list(root + "/sys/bus/" + bus + "/drivers")) modules.emplace(driver, Module{});
    }
  }

  int index = 0;
  std::string& out = *output;
  out.clear();
  for (const auto& [name, m] : modules) {
    ++index;
    if (!only.empty() && !only.count(name)) continue;
    char line[1024];
    std::optional<std::string> version = moduleVersion(root, name);
    std::snprintf(line, sizeof line, "%5d %4ld 0x%016llx 0x%-8llx 0x%-8llx %s%s%s%s <%s>\n", index, m.refs, m.address,
                  m.size, m.size, name.c_str(), version ? " (" : "", version ? version->c_str() : "",
                  version ? ")" : "", m.dependencies.c_str());
    out += line;
  }
  return 0;
}

}  // namespace xr

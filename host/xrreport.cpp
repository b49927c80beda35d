// xrreport: loads the plug-in bundles on its search path and prints the report each one makes, for this
// machine or for a machine profile.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "live/KernelDriverListing.h"
#include "live/LiveMachine.h"
#include "profile/MachineCapture.h"
#include "profile/MachineProfile.h"
#include "host/PluginBundle.h"
#include "host/PluginSearchPath.h"
#include "host/ReportWatch.h"
#include "host/TextReport.h"
#include "platform/Json.h"
#include "platform/SignalCleanup.h"
#include "platform/SignalSource.h"
#include "platform/Trace.h"

namespace {
using namespace xr;

constexpr int kReported = 0;
constexpr int kUnusable = 1;
constexpr int kBadCommandLine = 2;

int unusable(const std::string& message) {
  std::cerr << "xrreport: " << displayable(message) << '\n';
  return kUnusable;
}

// The directory of the running executable: the live machine's tools and data are beside it.
std::string executableDirectory() {
  std::error_code ec;
  auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string(".") : self.parent_path().string();
}

// Descriptors 0, 1 and 2 are taken before anything else opens a file, so no modem line or file
// can get one of their numbers (and the report or the trace be written into it). A closed
// standard output is taken read-only: writing the report then fails as it would have.
void openStandardDescriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free number: this one, as the ones below it are open.
    const int null = ::open("/dev/null", fd == STDOUT_FILENO ? O_RDONLY : O_RDWR);
    if (null >= 0 && null != fd) {
      ::dup2(null, fd);
      ::close(null);
    }
  }
}

// Tools are waited for by their own pid, which a host that ignores SIGCHLD would take away;
// a signal that ends the report first puts back what it changed (SignalCleanup). A reader of
// the output or the trace that goes away (`| head`) must not end the report in the middle of
// the modem dialogue, line raw and lock file left, as SIGPIPE would from whichever thread
// wrote: the write fails instead, and a report that cannot be printed says so.
void prepareProcess() {
  openStandardDescriptors();
  ::signal(SIGCHLD, SIG_DFL);
  ::signal(SIGPIPE, SIG_IGN);
  SignalCleanup::installSignalHandlers();
#if defined(__SANITIZE_THREAD__)
  // The thread sanitizer's runtime sets up a thread's signal bookkeeping at the thread's first
  // blocking call and loses a signal that arrives during that setup (about 1 in 15 Ctrl-Cs
  // at the modem's first reply, the first wait of a report). One call here, before the report.
  ::poll(nullptr, 0, 0);
#endif
}

void traceToStandardError(std::string_view line) {
  std::string text = displayable(line);
  text += '\n';
  std::fwrite(text.data(), 1, text.size(), stderr);
}

// The machine reported on: a machine profile, or this one, perhaps being captured.
struct Machine {
  std::unique_ptr<MachineProfile> profile;
  std::unique_ptr<KernelDriverListing> profileDrivers;  // a Linux machine's profile
  std::unique_ptr<LiveMachine> live;
  std::unique_ptr<MachineCapture> capture;
};

// Sets up the machine and the trace; false and a message when that cannot be done.
bool openMachine(const std::string* profile, const std::string* capture, bool trace, bool watch,
                 const std::string& executableDir, Machine* machine, std::string* error) {
  if (profile) {
    machine->profile = MachineProfile::open(*profile, error);
    if (!machine->profile) return false;
    // A Linux machine's profile has its drivers listed as this machine has: from its kernel's
    // files, by the same code.
    if (const std::string root = machine->profile->file("root"); KernelDriverListing::describedBy(root))
      machine->profileDrivers = KernelDriverListing::serve(LiveMachine::toolDirectory(executableDir), root);
  } else {
    // A capture refuses its directory before anything is read.
    if (capture && !(machine->capture = MachineCapture::begin(*capture, trace ? traceToStandardError : nullptr, error)))
      return false;
    // Only a watch reports again: a single report needs no device monitor.
    LiveMachine::Options options = LiveMachine::defaults(executableDir);
    options.followDeviceChanges = watch;
    machine->live = LiveMachine::open(options, error);
    if (!machine->live) return false;
    // The watch still runs (a signal ends it), but a user waiting for a modem to show up
    // must know that it never will.
    if (!machine->live->deviceChangesMissed().empty())
      std::cerr << "xrreport: warning: devices plugged in or out will not be seen: "
                << displayable(machine->live->deviceChangesMissed()) << '\n';
  }
  if (trace && !machine->capture) setTraceSink(traceToStandardError);
  return true;
}

const std::string kWatchSeparator = std::string(72, '-') + '\n';

bool print(const std::string& text) {
  std::cout << text << std::flush;
  return static_cast<bool>(std::cout);
}

// The report of every plug-in in the chosen format: text, or one JSON array (on one line
// when compact, as JSON Lines need).
std::optional<std::string> makeReport(const std::vector<std::unique_ptr<PluginBundle>>& plugins,
                                      const std::string& format, bool compact, bool probe, std::string* error) {
  auto reports = makeArray();
  std::string text;
  for (const auto& plugin : plugins) {
    DictionaryRef report;
    try {
      // "_probe" in the request lets the plug-ins that can ask devices do so.
      report = plugin->principalReporter().updateDictionary(probe ? makeDictionary({{"_probe", true}})
                                                                  : makeDictionary());
    } catch (const std::exception& e) {
      *error = plugin->bundle().path() + ": plug-in failed: " + e.what();
      return std::nullopt;
    }
    if (!report || !report->get("_items").array()) {
      *error = plugin->bundle().path() + ": plug-in returned no report dictionary with \"_items\"";
      return std::nullopt;
    }
    if (format == "json") {
      reports->emplace_back(report);  // in place: g++ 12 misreads moving the variant
    } else {
      text += textReport(plugin->name(), report, plugin->bundle());
    }
  }
  if (format == "json") text = toJson(Value(reports), compact ? -1 : 2) + "\n";
  return text;
}

int run(int argc, char** argv) {
  CLI::App app{"Prints the hardware report of this machine, or of a machine profile, one section per plug-in.",
               "xrreport"};
  std::string machine;
  std::string capture;
  std::string format = "text";
  bool trace = false;
  bool version = false;
  bool watch = false;
  bool probe = false;
  auto* machineOption = app.add_option("--machine", machine, "Report on the machine profile in DIR")->type_name("DIR");
  app.add_option("--format", format, "Output format: text (readable) or json (an array of report dictionaries)")
      ->check(CLI::IsMember({"text", "json"}))
      ->capture_default_str();
  auto* captureOption = app.add_option("--capture", capture,
                                       "Write this machine as a machine profile into DIR (new or empty), then report")
                            ->type_name("DIR")
                            ->excludes(machineOption);
  app.add_flag("--trace", trace, "Print the modem dialogue on standard error as it happens");
  app.add_flag("--probe", probe, "Ask idle modem ports what they are (AT identity queries)");
  app.add_flag("--version", version, "Print the version of xrreport and of each plug-in, with its path");
  app.add_flag("--watch", watch,
               "After the report, print it again each time a device change alters it, until interrupted "
               "(json: one line per report)");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) {  // --help, written like a report: a lost usage is an error
      app.exit(e);
      std::cout << std::flush;
      return std::cout ? kReported : unusable("standard output cannot be written");
    }
    std::cerr << "xrreport: " << displayable(e.what()) << "\n\n" << app.help();
    return kBadCommandLine;
  }

  std::string error;
  Machine reportedMachine;
  if (!version && !openMachine(machineOption->count() ? &machine : nullptr, captureOption->count() ? &capture : nullptr,
                               trace, watch, executableDirectory(), &reportedMachine, &error))
    return unusable(error);

  const PluginSearchPath searchPath = PluginSearchPath::forThisProcess();
  const auto paths = searchPath.bundles(&error);
  if (!paths) return unusable(error);
  if (paths->empty()) return unusable("no plug-in bundle (*.xrplugin) in " + searchPath.text());
  // Declared after the profile so plug-ins go before the machine they report on.
  std::vector<std::unique_ptr<PluginBundle>> plugins;
  for (const std::string& path : *paths) {
    auto plugin = PluginBundle::load(path, &error);
    if (!plugin) return unusable(error);
    plugins.push_back(std::move(plugin));
  }

  if (version) {
    std::string text = "xrreport " XR_VERSION " (plug-in ABI " + std::to_string(XR_PLUGIN_ABI_VERSION) + ")\n";
    for (const auto& plugin : plugins)
      text += "  " + plugin->name() + " " + plugin->version() + " " + plugin->bundle().path() + "\n";
    std::cout << text << std::flush;
    return std::cout ? kReported : unusable("standard output cannot be written");
  }

  // --watch: a signal while waiting ends the watch cleanly; during a report it interrupts
  // the report as it would without --watch.
  std::unique_ptr<SignalSource> signals;
  if (watch) {
    signals = SignalSource::create({SIGINT, SIGTERM}, [](int) { RunLoop::current().stop(); });
    if (!signals) return unusable("cannot watch for signals");
  }
  auto make = [&](std::string* failure) {
    SignalSource::Busy busy;
    return makeReport(plugins, format, watch, probe, failure);
  };
  // Made before the first report, so a device that arrives while it is made is not missed.
  std::optional<ReportWatch> watcher;
  if (watch) {
    watcher.emplace(RegistryStore::current(), make, [&format](const std::string& report) {
      // Text reports are told apart by a separator line; JSON Lines need none.
      return print(format == "json" ? report : kWatchSeparator + report);
    });
  }
  std::optional<std::string> first = make(&error);
  if (!first || !print(*first)) return unusable(first ? "standard output cannot be written" : error);
  if (reportedMachine.capture && !reportedMachine.capture->finish(&error)) return unusable(error);
  if (!watch) return kReported;

  ScopedRunLoopSource signalled(RunLoop::current(), signals->source());
  error = watcher->run(RunLoop::current(), *first);
  if (!error.empty()) return unusable(error);
  return kReported;
}

}  // namespace

int main(int argc, char** argv) {
  prepareProcess();
  // Nothing here throws on purpose; a stray exception still ends in a message, not an abort.
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    return unusable(std::string("report failed: ") + e.what());
  } catch (...) {
    return unusable("report failed");
  }
}

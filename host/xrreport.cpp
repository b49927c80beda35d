// xrreport: loads the plug-in bundles on its search path and prints the report each one makes, for this
// machine or for a machine profile.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "live/LiveMachine.h"
#include "profile/MachineCapture.h"
#include "profile/MachineProfile.h"
#include "host/PluginBundle.h"
#include "host/PluginSearchPath.h"
#include "host/TextReport.h"
#include "platform/Json.h"
#include "platform/Trace.h"

namespace {
using namespace xr;

constexpr int kReported = 0;
constexpr int kUnusable = 1;
constexpr int kBadCommandLine = 2;

int unusable(const std::string& message) {
  std::cerr << "xrreport: " << message << '\n';
  return kUnusable;
}

// The directory of the running executable: the live machine's tools and data are beside it.
std::string executableDirectory() {
  std::error_code ec;
  auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string(".") : self.parent_path().string();
}

void traceToStandardError(std::string_view line) {
  std::string text(line);
  text += '\n';
  std::fwrite(text.data(), 1, text.size(), stderr);
}

// The machine reported on: a machine profile, or this one, perhaps being captured.
struct Machine {
  std::unique_ptr<MachineProfile> profile;
  std::unique_ptr<LiveMachine> live;
  std::unique_ptr<MachineCapture> capture;
};

// Sets up the machine and the trace; false and a message when that cannot be done.
bool openMachine(const std::string* profile, const std::string* capture, bool trace, const std::string& executableDir,
                 Machine* machine, std::string* error) {
  if (profile) {
    machine->profile = MachineProfile::open(*profile, error);
    if (!machine->profile) return false;
  } else {
    // A capture refuses its directory before anything is read.
    if (capture && !(machine->capture = MachineCapture::begin(*capture, trace ? traceToStandardError : nullptr, error)))
      return false;
    machine->live = LiveMachine::open(LiveMachine::defaults(executableDir), error);
    if (!machine->live) return false;
  }
  if (trace && !machine->capture) setTraceSink(traceToStandardError);
  return true;
}

int run(int argc, char** argv) {
  CLI::App app{"Prints the hardware report of this machine, or of a machine profile, one section per plug-in.",
               "xrreport"};
  std::string machine;
  std::string capture;
  std::string format = "text";
  bool trace = false;
  bool version = false;
  auto* machineOption = app.add_option("--machine", machine, "Report on the machine profile in DIR")->type_name("DIR");
  app.add_option("--format", format, "Output format: text (readable) or json (an array of report dictionaries)")
      ->check(CLI::IsMember({"text", "json"}))
      ->capture_default_str();
  auto* captureOption = app.add_option("--capture", capture,
                                       "Write this machine as a machine profile into DIR (new or empty), then report")
                            ->type_name("DIR")
                            ->excludes(machineOption);
  app.add_flag("--trace", trace, "Print the modem dialogue on standard error as it happens");
  app.add_flag("--version", version, "Print the version of xrreport and of each plug-in, with its path");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help
    std::cerr << "xrreport: " << e.what() << "\n\n" << app.help();
    return kBadCommandLine;
  }

  std::string error;
  Machine reportedMachine;
  if (!version && !openMachine(machineOption->count() ? &machine : nullptr, captureOption->count() ? &capture : nullptr,
                               trace, executableDirectory(), &reportedMachine, &error))
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

  auto reports = makeArray();
  std::string text;
  for (const auto& plugin : plugins) {
    DictionaryRef report;
    try {
      report = plugin->principalReporter().updateDictionary(makeDictionary());
    } catch (const std::exception& e) {
      return unusable(plugin->bundle().path() + ": plug-in failed: " + e.what());
    }
    if (!report || !report->get("_items").array())
      return unusable(plugin->bundle().path() + ": plug-in returned no report dictionary with \"_items\"");
    if (format == "json")
      reports->push_back(report);
    else
      text += textReport(plugin->name(), report, plugin->bundle());
  }
  if (format == "json") text = toJson(Value(reports)) + "\n";
  std::cout << text << std::flush;
  if (!std::cout) return unusable("standard output cannot be written");
  if (reportedMachine.capture && !reportedMachine.capture->finish(&error)) return unusable(error);
  return kReported;
}

}  // namespace

int main(int argc, char** argv) {
  // Nothing here throws on purpose; a stray exception still ends in a message, not an abort.
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    return unusable(std::string("report failed: ") + e.what());
  } catch (...) {
    return unusable("report failed");
  }
}

// modemsim [--kernel-default-line] MODEM_JSON: serves a scripted modem on a new pseudo-terminal,
// prints the path the serial port opens, and serves until SIGINT, SIGTERM or SIGHUP.
// --kernel-default-line leaves the pty as the kernel makes it (CRs turned into LFs and the
// rest), as a real serial line starts, whatever the script says. Exit status 0 when stopped
// by one of them, 1 for an unusable script or a path that cannot be printed, 2 for a bad
// command line.
#include <signal.h>

#include <CLI/CLI.hpp>
#include <iostream>

#include "profile/ScriptedModem.h"

int main(int argc, char** argv) {
  // A reader of the path that has gone is a write error below, not a silent death.
  ::signal(SIGPIPE, SIG_IGN);
  CLI::App app{"Serves a scripted modem on a pseudo-terminal and prints its device path."};
  std::string scriptPath;
  app.add_option("modem-json", scriptPath, "the modem script (a machine profile's modem.json)")->required();
  bool kernelDefaultLine = false;
  app.add_flag("--kernel-default-line", kernelDefaultLine,
               "leave the pty at the kernel's default settings instead of making it raw");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help
    std::cerr << "modemsim: " << e.what() << "\n";
    return 2;
  }

  std::string error;
  std::optional<xr::ModemScript> script = xr::ModemScript::fromFile(scriptPath, &error);
  if (!script) {
    std::cerr << "modemsim: " << error << "\n";
    return 1;
  }
  if (kernelDefaultLine) script->lineSettings = xr::PseudoTerminal::LineSettings::kKernelDefault;
  // Blocked before the serving thread starts, so that only sigwait below receives them.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  std::unique_ptr<xr::ScriptedModem> modem = xr::ScriptedModem::start(std::move(*script), &error);
  if (!modem) {
    std::cerr << "modemsim: " << error << "\n";
    return 1;
  }
  std::cout << modem->devicePath() << std::endl;
  if (!std::cout) {  // nobody can reach the modem: serving it would only wait for a signal
    std::cerr << "modemsim: standard output cannot be written\n";
    modem->stop();
    return 1;
  }
  int received = 0;
  sigwait(&signals, &received);
  modem->stop();
  return 0;
}

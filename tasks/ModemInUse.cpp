// Which processes hold the modem's device open, from the open-files tool.
#include "platform/PlatformRoot.h"
#include "platform/Scanner.h"
#include "platform/Trace.h"
#include "reporter/XRModemPlugin.h"
#include "serial/SerialPortList.h"
#include "tasks/SynchronousTaskRunner.h"

namespace xr {

void XRModemPlugin::checkIfModemInUseTask() {
  static const char kLsof[] = "/usr/sbin/lsof";
  if (!fileExists(kLsof)) {
    traceNote("tool ", resolvePath(kLsof), ": missing");
    return;
  }
  _appNamesAlreadyUsingModems.clear();
  auto device = SerialPortList::serialPortList()->serialPortPathForSerialPortName("modem");
  if (!device || device->empty()) return;
  SynchronousTaskRunner runner(this, resolvePath(kLsof), {"-Fc", *device});
  runner.startTask();
  retrieveProcessesUsingModemOutput(runner.output());
}

// The tool's field output: a "p<pid>" line, then a "c<command>" line, for each process.
void XRModemPlugin::retrieveProcessesUsingModemOutput(const std::optional<std::string>& output) {
  const std::string text = output.value_or("");
  Scanner scanner(text);
  std::string token;
  while (scanner.scanUpTo(isWhiteSpaceOrNewline, &token)) {
    if (text.size() - scanner.location() < 2) continue;
    // Over the newline that ends the process line and the field letter of the next.
    scanner.setLocation(scanner.location() + 2);
    std::string name;
    if (scanner.scanUpTo([](char c) { return c == '\n'; }, &name) && !name.empty()) {
      _appNamesAlreadyUsingModems += name + ", ";
    }
  }
  if (_appNamesAlreadyUsingModems.empty()) return;
  _appNamesAlreadyUsingModems.resize(_appNamesAlreadyUsingModems.size() - 2);
  setObject(_appNamesAlreadyUsingModems, "xrmodem_modemInUseBy");
}

}  // namespace xr

// The plug-in's dialogue with the internal modem: opening its line and free-text queries.
#include "atcommand/FreeTextQuery.h"
#include "platform/Trace.h"
#include "reporter/XRModemPlugin.h"
#include "serial/DataHandler.h"
#include "serial/SerialPortList.h"
#include "serial/TTYPort.h"

namespace xr {
namespace {
constexpr int32_t kModemSpeed = 115200;
}  // namespace

bool XRModemPlugin::openInternalModemPort() {
  const auto port = TTYPort::sharedTTYPort();
  if (!port) return false;
  if (port->portOpened()) return true;

  const auto list = SerialPortList::serialPortList();
  const std::optional<std::string> path = list ? list->serialPortPathForSerialPortName("modem") : std::nullopt;
  if (!path || path->empty()) {
    traceNote("no serial port named \"modem\": the modem is not asked");
    return false;
  }

  port->setPath(*path);
  port->setSerialOptions("8-N-1");
  port->setPortSpeed(kModemSpeed);
  port->setStartReadMechOnOpen(true);
  port->dataHandler()->setLogDataEvents(true);
  port->open();
  return port->inDescriptor() != -1;
}

std::optional<std::string> XRModemPlugin::sendAnUnknownResponseATCommand(const std::string& command) {
  return sendFreeTextQuery(command, _timing.queryTimeout);
}

}  // namespace xr

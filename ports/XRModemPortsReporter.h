#pragma once

#include <memory>

#include "host/XRReporter.h"
#include "ports/XRModemPortsPlugin.h"

namespace xr {

// The modem-ports plug-in's principal reporter: one item per serial port. A request whose
// "_probe" is true has idle modem ports asked what they are.
class XRModemPortsReporter : public XRReporter {
 public:
  // Starts the first report's holders pass on a thread of its own: on the live machine it is
  // most of this plug-in's time, and it then runs while the plug-ins before this one report.
  XRModemPortsReporter();
  DictionaryRef updateDictionary(const DictionaryRef& dictionary) override;

 private:
  std::unique_ptr<XRModemPortsPlugin::EarlyPass> early_;  // finished by the first report, or joined on destruction
};

}  // namespace xr

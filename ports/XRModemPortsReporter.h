#pragma once

#include "host/XRReporter.h"

namespace xr {

// The modem-ports plug-in's principal reporter: one item per serial port. A request whose
// "_probe" is true has idle modem ports asked what they are.
class XRModemPortsReporter : public XRReporter {
 public:
  DictionaryRef updateDictionary(const DictionaryRef& dictionary) override;
};

}  // namespace xr

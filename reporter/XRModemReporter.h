#pragma once

#include "host/XRReporter.h"

namespace xr {

// The modem plug-in's principal reporter: adds the item "xrmodem_information" to the host's
// report when the probe finds anything.
class XRModemReporter : public XRReporter {
 public:
  DictionaryRef updateDictionary(const DictionaryRef& dictionary) override;
};

}  // namespace xr

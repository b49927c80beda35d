// Placeholder for the in-use check until the serial port list lands; this file goes then.
#include "reporter/XRModemPlugin.h"

namespace xr {
void XRModemPlugin::checkIfModemInUseTask() {}
}  // namespace xr

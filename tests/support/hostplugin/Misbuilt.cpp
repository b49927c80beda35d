// Shared objects that load but are not usable plug-ins, one per definition: MISBUILT_NO_FACTORY
// exports the versions but no factory, MISBUILT_NO_ABI no ABI version, MISBUILT_OTHER_ABI
// another one. Their factory aborts: the host must refuse them before calling it.
#include <cstdlib>

#include "host/XRReporter.h"

#if defined(MISBUILT_NO_ABI)
extern "C" __attribute__((visibility("default"))) const char XRPluginVersion[] = "1";
#elif defined(MISBUILT_OTHER_ABI)
extern "C" __attribute__((visibility("default"))) const unsigned XRPluginABIVersion = XR_PLUGIN_ABI_VERSION + 1;
extern "C" __attribute__((visibility("default"))) const char XRPluginVersion[] = "1";
#else
XR_PLUGIN_EXPORT_VERSIONS("1");
#endif

#if !defined(MISBUILT_NO_FACTORY)
extern "C" __attribute__((visibility("default"))) xr::XRReporter* XRPluginCreatePrincipalReporter() { std::abort(); }
#endif

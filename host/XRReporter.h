#pragma once

#include "platform/Value.h"

namespace xr {

// Base class of every reporter a plug-in bundle provides (support library XRSupport).
class XRReporter {
 public:
  virtual ~XRReporter() = default;

  // The report dictionary: the argument's "_items" array when it has one, otherwise a new
  // dictionary whose "_items" is a new empty array. Subclasses call this first and append
  // their items (each a dictionary whose "_name" names it) to "_items".
  virtual DictionaryRef updateDictionary(const DictionaryRef& dictionary);

 protected:
  // Appends item to the report's "_items" array.
  static void appendItem(const DictionaryRef& report, const DictionaryRef& item);
};

}  // namespace xr

// The version of what host and plug-in share: XRReporter, the value types it passes and the
// exports below. Raised on any change to them, so the host refuses a bundle built against
// another one instead of crashing inside it.
#define XR_PLUGIN_ABI_VERSION 1

// Every plug-in bundle exports three symbols. XRPluginCreatePrincipalReporter makes the bundle's
// principal reporter, owned by the caller; nullptr when it cannot be made. XRPluginABIVersion
// is the XR_PLUGIN_ABI_VERSION the bundle was built with, XRPluginVersion the bundle's own
// version; XR_PLUGIN_EXPORT_VERSIONS("1.2") in one of the bundle's sources defines both.
extern "C" xr::XRReporter* XRPluginCreatePrincipalReporter();
extern "C" const unsigned XRPluginABIVersion;
extern "C" const char XRPluginVersion[];

#define XR_PLUGIN_EXPORT_VERSIONS(version)                                                            \
  extern "C" __attribute__((visibility("default"))) const unsigned XRPluginABIVersion = XR_PLUGIN_ABI_VERSION; \
  extern "C" __attribute__((visibility("default"))) const char XRPluginVersion[] = version

// The three exports of a bundle whose principal reporter is a ReporterClass made with new.
#define XR_PLUGIN_EXPORT_PRINCIPAL_REPORTER(ReporterClass, version)                                 \
  XR_PLUGIN_EXPORT_VERSIONS(version);                                                                 \
  extern "C" __attribute__((visibility("default"))) xr::XRReporter* XRPluginCreatePrincipalReporter() { \
    return new ReporterClass();                                                                       \
  }

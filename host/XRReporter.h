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
};

}  // namespace xr

// Every plug-in bundle exports this one function: it makes the bundle's principal reporter,
// owned by the caller. nullptr when it cannot be made.
extern "C" xr::XRReporter* XRPluginCreatePrincipalReporter();

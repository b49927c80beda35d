#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/RunLoop.h"
#include "platform/Value.h"

namespace xr {

// The device registry as the modem reporter sees it: two planes of entries ("HwService" and
// "HwDeviceTree") with named properties. Handles are 32-bit, 0 for none; statuses are 0 for
// success. Whoever obtains a handle, a property value or a notification port gives it back
// once; the registry counts what is outstanding (see RegistryStore::outstanding()).

using RegistryHandle = uint32_t;  // access handle, entry, iterator or connection
using RegistryStatus = int32_t;

constexpr RegistryStatus kRegistrySuccess = 0;
constexpr RegistryStatus kRegistryError = -536870212;      // general failure
constexpr RegistryStatus kRegistryBadArgument = -536870206;
constexpr RegistryStatus kRegistryNotFound = -536870160;

// A property value handed out by the registry. Dropping the last reference gives it back.
using RegistryValue = std::shared_ptr<const Value>;

class RegistryNotifier;
using RegistryNotifierRef = RegistryNotifier*;
using RegistryMatchCallback = void (*)(void* context, RegistryHandle iterator);

RegistryStatus RegistryOpen(RegistryHandle* access);
RegistryStatus RegistryClose(RegistryHandle access);

// A matching description for the class: a mutable dictionary that callers may add property
// keys to. nullptr when the class name is empty.
DictionaryRef RegistryMatchClass(const std::string& className);
// An iterator over the HwService entries matching now, in depth-first pre-order.
RegistryStatus RegistryMatchingEntries(RegistryHandle access, DictionaryRef description, RegistryHandle* iterator);
// An iterator over every entry of the plane (recursive: all descendants, depth-first
// pre-order; otherwise the root's children).
RegistryStatus RegistryPlaneIterator(RegistryHandle access, const std::string& plane, bool recursive,
                                     RegistryHandle* iterator);
// The next entry (a new handle to give back), or 0 at the end.
RegistryHandle RegistryIteratorNext(RegistryHandle iterator);
// "HwDeviceTree:zel-io/i2c/i2c-modem": child names from that plane's root; the first child
// of a name wins. 0 when there is no such entry.
RegistryHandle RegistryEntryFromPath(RegistryHandle access, const std::string& path);
// The entry's first child in the plane; non-zero status when there is none.
RegistryStatus RegistryEntryChild(RegistryHandle entry, const std::string& plane, RegistryHandle* child);
// nullptr when the entry or the property does not exist.
RegistryValue RegistryEntryProperty(RegistryHandle entry, const std::string& key);
// A copy of every property of the entry.
RegistryStatus RegistryEntryProperties(RegistryHandle entry, DictionaryRef* properties);

// First-match notifications. The port's run-loop source delivers, when the caller's run loop
// runs, one callback per armed notification whose class has gained entries.
RegistryNotifierRef RegistryNotifierCreate(RegistryHandle access);
std::shared_ptr<RunLoopSource> RegistryNotifierSource(RegistryNotifierRef port);
void RegistryNotifierDestroy(RegistryNotifierRef port);
// type is "HwServiceFirstMatch". Gives an iterator over the entries already present; the
// notification is armed once the caller has drained it.
RegistryStatus RegistryAddFirstMatch(RegistryNotifierRef port, const std::string& type, DictionaryRef description,
                                     RegistryMatchCallback callback, void* context, RegistryHandle* iterator);

// Gives back an entry or iterator.
RegistryStatus RegistryRelease(RegistryHandle object);
RegistryStatus RegistryConnectionClose(RegistryHandle connection);

}  // namespace xr

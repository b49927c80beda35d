// Which internal modem the machine has: the digital-audio-bus test, the serial modem's driver
// and the file test the tool runners use.
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "platform/PlatformRoot.h"
#include "platform/RegistryObject.h"
#include "platform/Trace.h"
#include "reporter/XRModemPlugin.h"

namespace xr {
namespace {

const char* const kI2SPath = "HwDeviceTree:zel-io/i2s/i2s-b";
constexpr char kI2SModem[] = "i2s-modem";  // compared with its terminating zero
constexpr size_t kIdentifierBuffer = 512;

// The compatible list names "i2s-modem" first. Compares at most the value's own bytes, so a
// value that is a leading part of the name (or empty) passes, and stops at the name's end.
bool namesI2SModemFirst(const Data& compatible) {
  size_t n = std::min(compatible.length(), sizeof kI2SModem);
  for (size_t i = 0; i < n; ++i) {
    if (compatible.bytes()[i] != static_cast<uint8_t>(kI2SModem[i])) return false;
    if (kI2SModem[i] == '\0') break;
  }
  return true;
}

// The child's bundle identifier when it is ASCII text that fits the platform's 512-byte
// buffer with its terminator.
std::optional<std::string> bundleIdentifier(RegistryHandle child) {
  RegistryValue value = RegistryEntryProperty(child, "PkBundleIdentifier");
  const std::string* text = value ? value->string() : nullptr;
  if (!text || text->size() >= kIdentifierBuffer) return std::nullopt;
  for (unsigned char c : *text) {
    if (c >= 0x80) return std::nullopt;
  }
  return *text;
}

// Giving back an entry or iterator this search holds cannot fail unless the registry itself
// is broken; that is the one internal error that stops the process.
void requireGivenBack(RegistryStatus junk) {
  if (junk != kRegistrySuccess) {
    std::fprintf(stderr, "xrmodem: internal error: assertion failed: junk == 0 (status %d)\n", junk);
    std::abort();
  }
}

}  // namespace

bool XRModemPlugin::queryI2SModem() {
  RegistryAccess access;
  if (RegistryOpen(access.receive()) != kRegistrySuccess) return false;
  RegistryObject entry(RegistryEntryFromPath(access.get(), kI2SPath));
  if (!entry) {
    traceNote("no digital-audio-bus node at ", kI2SPath);
    return false;
  }
  bool found = false;
  RegistryValue compatible = RegistryEntryProperty(entry.get(), "compatible");
  if (const Data* bytes = compatible ? compatible->data() : nullptr) found = namesI2SModemFirst(*bytes);
  if (!found) traceNote("no i2s-modem first in compatible at ", kI2SPath);

  // The node alone says which modem it is, whatever its compatible list holds.
  setObject("Brisa", "Device");
  setObject("Version 1.0", "Hardware Version");
  std::string type = interfaceTypeNameFromInterfaceType(3);
  if (!type.empty()) setObject(type, "xrmodem_interfacetype");
  return found;
}

std::optional<std::string> XRModemPlugin::getInternalSerialModemDriverName(const std::string& word) {
  RegistryAccess access;
  RegistryOpen(access.receive());  // a failed open fails the iterator below
  RegistryObject iterator;
  if (RegistryPlaneIterator(access.get(), "HwService", true, iterator.receive()) != kRegistrySuccess)
    return std::nullopt;

  std::optional<std::string> result;
  RegistryStatus childStatus = kRegistrySuccess;
  while (!result && childStatus == kRegistrySuccess) {
    RegistryObject entry(RegistryIteratorNext(iterator.get()));
    if (!entry) break;
    {
      RegistryValue compatible = RegistryEntryProperty(entry.get(), "compatible");
      const Data* list = compatible ? compatible->data() : nullptr;
      // The zero bytes between the names stay in, so a word is found in any name of the list.
      if (list && std::string_view(reinterpret_cast<const char*>(list->bytes()), list->length()).find(word) !=
                      std::string_view::npos) {
        RegistryObject child;
        childStatus = RegistryEntryChild(entry.get(), "HwService", child.receive());
        // A matching entry without a child ends the search: the driver is not attached yet.
        if (child) result = bundleIdentifier(child.get());
      }
    }
    requireGivenBack(entry.reset());
  }
  requireGivenBack(iterator.reset());
  return result;
}

bool XRModemPlugin::fileExists(const std::string& path) const { return fileExistsAtPath(resolvePath(path)); }

}  // namespace xr

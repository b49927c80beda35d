#include "serial/SerialPortList.h"

#include <mutex>
#include <utility>

#include "platform/Registry.h"
#include "platform/RegistryObject.h"

namespace xr {
namespace {
std::mutex gSharedMutex;
std::shared_ptr<SerialPortList> gShared;  // guarded by gSharedMutex

std::optional<std::string> stringProperty(RegistryHandle entry, const std::string& key) {
  RegistryValue value = RegistryEntryProperty(entry, key);
  return value ? value->stringValue() : std::nullopt;
}
}  // namespace

std::shared_ptr<SerialPortList> SerialPortList::serialPortList() {
  std::lock_guard lock(gSharedMutex);
  if (!gShared) gShared = std::make_shared<SerialPortList>();
  return gShared;
}

void SerialPortList::resetSharedSerialPortList() {
  std::lock_guard lock(gSharedMutex);
  gShared.reset();
}

SerialPortList::SerialPortList() : _serialPorts(std::make_shared<std::vector<PortInfo>>()) { harvestSerialPorts(); }

void SerialPortList::harvestSerialPorts() {
  if (!_serialPorts) _serialPorts = std::make_shared<std::vector<PortInfo>>();
  RegistryAccess access;
  RegistryOpen(access.receive());
  DictionaryRef description = RegistryMatchClass("HwSerialBSDClient");
  // Stream ports only: modems and serial lines, not the other kinds of serial client.
  if (description) description->set("HwSerialBSDClientType", "HwSerialStream");
  RegistryObject iterator;
  if (RegistryMatchingEntries(access.get(), description, iterator.receive()) != kRegistrySuccess) return;
  while (RegistryHandle handle = RegistryIteratorNext(iterator.get())) {
    RegistryObject entry(handle);
    PortInfo port;
    port.setName(stringProperty(entry.get(), "HwTTYDevice"));
    port.setPath(stringProperty(entry.get(), "HwCalloutDevice"));
    _serialPorts->push_back(std::move(port));
  }
}

std::optional<std::string> SerialPortList::serialPortPathForSerialPortName(const std::string& name) const {
  return lastMatch(&PortInfo::name, name, &PortInfo::path);
}

std::optional<std::string> SerialPortList::serialPortNameForSerialPortPath(const std::string& path) const {
  return lastMatch(&PortInfo::path, path, &PortInfo::name);
}

// Every port is compared, so the last one that matches wins.
std::optional<std::string> SerialPortList::lastMatch(Field field, const std::string& value, Field wanted) const {
  std::optional<std::string> found;
  if (!_serialPorts) return found;
  for (const PortInfo& port : *_serialPorts) {
    if ((port.*field)() == value) found = (port.*wanted)();
  }
  return found;
}

std::vector<std::string> SerialPortList::serialPortNames() const {
  std::vector<std::string> names;
  if (!_serialPorts) return names;
  for (const PortInfo& port : *_serialPorts) names.push_back(port.name().value_or(""));
  return names;
}

}  // namespace xr

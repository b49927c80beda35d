#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "serial/PortInfo.h"

namespace xr {
namespace test {
class SerialPortListPeer;
}

// The machine's serial stream ports, in the registry's order, read once per process.
class SerialPortList {
 public:
  using PortArray = std::shared_ptr<std::vector<PortInfo>>;

  // The shared list, filled from the registry on the first call and never refilled.
  static std::shared_ptr<SerialPortList> serialPortList();

  SerialPortList();  // init: an empty list, then harvestSerialPorts
  void harvestSerialPorts();

  const PortArray& serialPorts() const { return _serialPorts; }
  void setSerialPorts(PortArray ports) { _serialPorts = std::move(ports); }

  // When several ports match, the last one in the list wins.
  std::optional<std::string> serialPortPathForSerialPortName(const std::string& name) const;
  std::optional<std::string> serialPortNameForSerialPortPath(const std::string& path) const;
  // A port without a name gives "".
  std::vector<std::string> serialPortNames() const;

 private:
  // Tests build a new registry per case: their peer drops the shared list.
  friend class test::SerialPortListPeer;
  static void resetSharedSerialPortList();

  using Field = const std::optional<std::string>& (PortInfo::*)() const;
  std::optional<std::string> lastMatch(Field field, const std::string& value, Field wanted) const;

  PortArray _serialPorts;
};

}  // namespace xr

#pragma once

#include <optional>
#include <string>

namespace xr {

// One serial port as the registry lists it: its tty base name and its call-out device path.
class PortInfo {
 public:
  const std::optional<std::string>& name() const { return _name; }
  void setName(const std::optional<std::string>& name) { _name = name; }
  const std::optional<std::string>& path() const { return _path; }
  void setPath(const std::optional<std::string>& path) { _path = path; }

  // " Port Name: modem, BSD Path: /dev/cu.modem"; a missing field reads "(null)".
  std::string description() const;

 private:
  std::optional<std::string> _name;
  std::optional<std::string> _path;
};

}  // namespace xr

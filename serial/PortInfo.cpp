#include "serial/PortInfo.h"

namespace xr {

std::string PortInfo::description() const {
  return " Port Name: " + _name.value_or("(null)") + ", BSD Path: " + _path.value_or("(null)");
}

}  // namespace xr

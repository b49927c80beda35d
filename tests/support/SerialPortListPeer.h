#pragma once

#include "serial/SerialPortList.h"

namespace xr::test {

// Drops the process's shared port list, so that the next serialPortList() reads the registry
// the case has built.
class SerialPortListPeer {
 public:
  static void resetShared() { SerialPortList::resetSharedSerialPortList(); }
};

}  // namespace xr::test

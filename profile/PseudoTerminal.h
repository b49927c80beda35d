#pragma once

#include <memory>
#include <string>

#include "platform/Posix.h"

namespace xr {

// A pseudo-terminal pair standing in for a modem's serial device: the owner plays the modem
// on the master side, the serial port opens slavePath(). The pair also keeps one descriptor
// of the slave side open, so that the master does not see a hang-up each time the port
// closes, and so that the line's attributes can be read back.
class PseudoTerminal {
 public:
  enum class LineSettings {
    kRaw,            // bytes pass as they are, as on a line a modem program has set up
    kKernelDefault,  // as the kernel makes every new tty: ICRNL, ECHO, ICANON, OPOST... on
  };

  // nullptr and a message when no pseudo-terminal can be had.
  static std::unique_ptr<PseudoTerminal> open(std::string* error = nullptr,
                                              LineSettings settings = LineSettings::kRaw);

  // Master side: non-blocking, close-on-exec. -1 once hung up.
  int masterDescriptor() const { return _master.get(); }
  const std::string& slavePath() const { return _slavePath; }
  int slaveDescriptor() const { return _slave.get(); }

  struct Key {
    explicit Key() = default;
  };
  explicit PseudoTerminal(Key) {}

  // The modem goes away: the master side closes and the slave side is hung up.
  void hangUp() { _master.reset(); }

 private:
  FileDescriptor _master;
  FileDescriptor _slave;
  std::string _slavePath;
};

}  // namespace xr

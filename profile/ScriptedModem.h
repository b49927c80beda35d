#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Posix.h"
#include "profile/ModemScript.h"
#include "profile/PseudoTerminal.h"

namespace xr {

// A modem that answers from a script on a pseudo-terminal, served by its own thread. The
// serial port opens devicePath(). Destroying it stops the thread and closes the pty.
class ScriptedModem {
 public:
  // nullptr and a message when no pseudo-terminal or thread can be had.
  static std::unique_ptr<ScriptedModem> start(ModemScript script, std::string* error = nullptr);

  struct Key {
    explicit Key() = default;
  };
  ScriptedModem(Key, ModemScript script, std::unique_ptr<PseudoTerminal> pty);
  ~ScriptedModem();
  ScriptedModem(const ScriptedModem&) = delete;
  ScriptedModem& operator=(const ScriptedModem&) = delete;

  const std::string& devicePath() const { return _pty->slavePath(); }
  // The slave side the modem keeps open, to read the line's attributes back.
  int lineDescriptor() const { return _pty->slaveDescriptor(); }
  // Stops serving; idempotent.
  void stop();
  // Commands received so far, without their CR.
  std::vector<std::string> receivedCommands() const;
  // The same, forgotten here: for a modem that serves many reports.
  std::vector<std::string> takeReceivedCommands();

 private:
  void serve();
  // false when stopped or the line is gone.
  bool handleInput(const uint8_t* bytes, size_t n);
  bool answer(const std::string& command);
  bool writeChunked(const Data& data);
  bool writeAll(const uint8_t* bytes, size_t n);
  // Waits ms milliseconds unless stopped first; false when stopped.
  bool pause(int ms);

  const ModemScript _script;
  std::unique_ptr<PseudoTerminal> _pty;
  FileDescriptor _stopRead;
  FileDescriptor _stopWrite;
  std::string _line;  // the command being received; serving thread only
  mutable std::mutex _mutex;
  std::vector<std::string> _received;  // guarded by _mutex
  std::thread _thread;
};

}  // namespace xr

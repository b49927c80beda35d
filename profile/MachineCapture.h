#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Data.h"
#include "platform/Posix.h"
#include "platform/SignalCleanup.h"
#include "platform/Trace.h"
#include "platform/Value.h"

namespace xr {

// Writes the machine a report ran on as a machine profile (xrreport --capture DIR), so that
// `xrreport --machine DIR` makes the same report elsewhere:
//   registry.json  the registry the report read
//   root/...       the files at fixed paths the plug-in reads, those that exist, and
//                  usr/sbin/drvxstat, a script replaying the driver listing of this machine
//   root/proc/...  the processes holding a serial port (comm, and fd/ with a link to each
//                  port held), those whose descriptors could not be read (fd a file), and
//                  the live owners of the ports' lock files (comm only)
//   root/var/lock/, root/run/lock/  the ports' lock files
//   modem.json     a modem's replies, from the dialogue trace: the internal modem's when it
//                  answered, else those of the first other port that did (--probe), with
//                  "Port" naming that port
class MachineCapture {
 public:
  // Begins a capture into directory, which must not exist or be empty: nullptr and a one-line
  // message otherwise. Records the modem dialogue from now on, handing each trace line on to
  // forward when it is set (--trace).
  static std::unique_ptr<MachineCapture> begin(const std::string& directory, TraceSink forward, std::string* error);

  // After the report: writes the profile and lets go of its directory (a --watch goes on
  // without it). False and a one-line message when a file cannot be written.
  // A capture that ends without its whole profile (finish fails or is never called) takes back
  // what it wrote, and the directory when begin made it, so nothing is left that replays as
  // another machine; a signal during the report (SignalCleanup) removes that directory, still
  // empty then, and one during finish waits until the profile is whole.
  bool finish(std::string* error);

  ~MachineCapture();
  MachineCapture(const MachineCapture&) = delete;
  MachineCapture& operator=(const MachineCapture&) = delete;

  // The fixed paths under the platform root that the plug-in reads.
  static const std::vector<std::string>& platformFiles();
  // One direction of the dialogue, as the trace shows it.
  struct Transfer {
    bool write;
    Data bytes;
  };
  // A trace line ("12.345 write <41540d> \"AT\\r\"") as a transfer; nullopt for other lines.
  static std::optional<Transfer> parseTraceLine(std::string_view line);
  // The port a trace line ("12.345 note  /dev/ttyACM0: opened") says was opened; nullopt for
  // other lines.
  static std::optional<std::string> parseOpenedLine(std::string_view line);
  // The modem.json of a dialogue; nullopt when the modem never answered.
  static std::optional<Value> modemScript(const std::vector<Transfer>& dialogue);

 private:
  struct Key {};

 public:
  MachineCapture(Key, std::string directory, FileDescriptor directoryFd, bool madeDirectory);

 private:
  // Files, directories and links of the profile, by their path inside it ("root/proc/40/comm").
  // Made through the directory opened at the start, never through a symbolic link and never
  // over what exists: whatever appears in the directory while the report runs (it may be
  // another user's) cannot lead a write outside it.
  bool writeFile(std::string_view relative, std::string_view bytes, mode_t mode, std::string* error) const;
  bool makeLink(std::string_view relative, const std::string& target, std::string* error) const;
  // The directory at relative, made with those above it as needed (unless make is false);
  // invalid and a message when one cannot be made or is not a directory.
  FileDescriptor openDirectories(std::string_view relative, std::string* error, bool make = true) const;
  // The directory that holds relative's last component, which goes to name.
  FileDescriptor openParent(std::string_view relative, std::string* name, std::string* error,
                            bool make = true) const;
  // Removes what this capture made, last first, and its directory when begin made it.
  void discard();

  bool writeProfile(std::string* error) const;
  bool writeDriverListing(std::string* error) const;
  bool writePortUsers(std::string* error) const;
  // The modem.json a profile plays, and the HwTTYDevice of the port it answers on.
  struct PlayedModem {
    Value script;
    std::string port;
  };
  std::optional<PlayedModem> playedModem() const;

  // The dialogue on each port opened during the report, in the order first opened. Transfers
  // go to the port opened last: the plug-ins talk to one port at a time.
  struct PortDialogue {
    std::string path;  // as opened; "" for transfers before any opening
    std::vector<Transfer> transfers;
  };
  struct Recording {
    std::mutex mutex;
    std::vector<PortDialogue> ports;
    size_t current = 0;
  };

  std::string directory_;
  FileDescriptor directoryFd_;
  std::shared_ptr<Recording> recording_;
  bool madeDirectory_;  // by begin, and not yet taken back
  CleanupEntry directoryCleanup_;  // while the report runs: the directory begin made
  struct Made {
    std::string relative;
    bool directory;
  };
  mutable std::vector<Made> made_;  // every file, directory and link written, in order
  bool finished_ = false;
};

}  // namespace xr

#pragma once

#include <future>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Bundle.h"
#include "platform/Value.h"
#include "ports/ModemIdentityProbe.h"
#include "ports/SerialPortRecord.h"
#include "serial/PortHolders.h"

namespace xr {

// The modem-ports plug-in object: one report item per serial stream port of the machine, with
// what the registry says of it, who holds it and, when asked, what the modem says it is.
class XRModemPortsPlugin {
 public:
  struct Options {
    bool probe = false;     // ask idle modem ports who they are
    std::string procRoot;   // the proc tree; empty: /proc under the platform root
    ModemIdentityProbe::Timing timing;
  };

  // bundle: the plug-in's own bundle (its string table); nullptr means the bundle that holds
  // this code.
  XRModemPortsPlugin(std::shared_ptr<const Bundle> bundle, Options options);

  // The holders pass and the driver listing of the first report, begun on a thread of its own
  // as the plug-in loads, while the plug-ins before this one report: their own process is left
  // out, as one of them may have a port open meanwhile (the modem's line), which it closes
  // before it returns. The report's thread takes part in what is left of the pass.
  class EarlyPass {
   public:
    // nullptr when the driver listing would not be a process launch, or no thread can be had:
    // the report makes its own pass.
    static std::unique_ptr<EarlyPass> begin();
    ~EarlyPass();

    struct Result {
      std::vector<SerialPortRecord> ports;
      HolderScan scan;
      std::map<std::string, std::string> versions;  // loaded driver versions, by bundle identifier
    };
    // For a report of ports: takes part in the pass, then waits for the rest. nullopt when the
    // pass was of other ports. Once.
    std::optional<Result> finish(const std::vector<SerialPortRecord>& ports);

   private:
    struct Shared;
    EarlyPass() = default;
    static Result run(const std::shared_ptr<Shared>& shared);

    std::shared_ptr<Shared> shared_;
    std::future<Result> result_;
  };

  // The items, modems first, then by name; none when the machine has no port. early: a pass
  // begun ahead, finished here and used when the ports are still those it scans.
  std::vector<DictionaryRef> portItems(EarlyPass* early = nullptr);

 private:
  // The drivers of the ports, each once, in port order.
  static std::vector<std::string> driverIdentifiers(const std::vector<SerialPortRecord>& ports);

  struct LockInfo {
    std::optional<ProcessRef> owner;  // a live owner
    bool junk = false;                // a lock file naming no process
  };

  LockInfo lockInfo(const SerialPortRecord& port) const;
  std::string text(const std::string& key) const;
  DictionaryRef item(const SerialPortRecord& port, const std::vector<ProcessRef>& holders, int uninspected);

  std::shared_ptr<const Bundle> bundle_;
  Options options_;
  PortHolders holders_;
  std::map<std::string, std::string> versions_;  // loaded driver versions, by bundle identifier
  std::vector<std::string> lockDirectories_;      // the UUCP lock directories, found once a report
};

}  // namespace xr

#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "ports/SerialPortRecord.h"

namespace xr {

// What a modem says it is: its answers to the identity queries, cleaned.
struct ModemIdentity {
  std::optional<std::string> manufacturer;    // AT+GMI
  std::optional<std::string> model;           // AT+GMM
  std::optional<std::string> revision;        // AT+GMR
  std::optional<std::string> capabilities;    // AT+GCAP
  std::optional<std::string> identification;  // ATI3, else ATI, when the identity queries answer ERROR
  // Why there is no identity: a string-table key; empty when the modem answered.
  std::string failure;
};

// Asks one modem port what it is, with the port locked for the dialogue (its UUCP lock file
// and an exclusive open) and its line settings put back afterwards. The caller decides whether
// the port may be asked at all.
class ModemIdentityProbe {
 public:
  struct Timing {
    std::chrono::milliseconds query{1000};  // each command
    std::chrono::milliseconds port{5000};   // the whole dialogue with one port
  };

  explicit ModemIdentityProbe(Timing timing);
  ModemIdentity probe(const SerialPortRecord& port) const;

 private:
  Timing timing_;
};

}  // namespace xr

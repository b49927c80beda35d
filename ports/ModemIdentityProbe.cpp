#include "ports/ModemIdentityProbe.h"

#include "atcommand/FreeTextQuery.h"
#include "serial/TTYPort.h"

namespace xr {
namespace {
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int32_t kModemSpeed = 115200;
// A modem that floods still gets a line of the report, not the flood.
constexpr size_t kMaxAnswer = 200;

// A complete reply ending in ERROR, or a mobile equipment error: the modem does not know the
// command, or will not answer it.
bool isError(const std::string& answer) {
  return answer.ends_with("ERROR") || answer.find("+CME ERROR") != std::string::npos ||
         answer.find("+CMS ERROR") != std::string::npos;
}

// The cleaned answer, bounded. Its bytes stay as the modem sent them: the text report escapes
// control bytes and invalid UTF-8 in every value.
std::string reportable(std::string answer) {
  if (answer.size() > kMaxAnswer) answer.resize(kMaxAnswer);
  return answer;
}

// One dialogue under one deadline: each query waits at most its own time-out and what is left
// of the port's. The first query without a complete reply ends it: a silent or vanished modem
// is not asked again.
class Dialogue {
 public:
  Dialogue(milliseconds query, milliseconds port) : query_(query), deadline_(Clock::now() + port) {}

  std::optional<std::string> ask(const std::string& command) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline_ - Clock::now());
    if (over_ || left <= milliseconds::zero()) {
      over_ = true;
      return std::nullopt;
    }
    auto answer = sendFreeTextQuery(command + "\r", std::min(query_, left), /*equipmentErrorsFinal=*/true);
    over_ = !answer;
    replied_ = replied_ || answer;
    return answer;
  }
  bool replied() const { return replied_; }

 private:
  milliseconds query_;
  Clock::time_point deadline_;
  bool over_ = false;
  bool replied_ = false;
};

}  // namespace

ModemIdentityProbe::ModemIdentityProbe(Timing timing) : timing_(timing) {}

ModemIdentity ModemIdentityProbe::probe(const SerialPortRecord& port) const {
  ModemIdentity identity;
  // The port holds the device's UUCP lock and its exclusive mode while open, and refuses a
  // device another program has locked or holds in exclusive use.
  TTYPort line;
  line.setPath(port.openPath);
  line.setSerialOptions("8-N-1");
  line.setPortSpeed(kModemSpeed);
  line.setStartReadMechOnOpen(true);
  line.open();
  if (!line.portOpened()) {
    identity.failure = line.busyHolderPid() != 0 ? "xrport_probe_locked"
                       : line.busyInExclusiveUse() ? "xrport_probe_held"
                                                   : "xrport_probe_unopenable";
    return identity;
  }

  Dialogue dialogue(timing_.query, timing_.port);
  bool unknown = true;  // every identity query answered ERROR
  for (auto [command, field] : {std::pair{"AT+GMI", &identity.manufacturer}, std::pair{"AT+GMM", &identity.model},
                                std::pair{"AT+GMR", &identity.revision}, std::pair{"AT+GCAP", &identity.capabilities}}) {
    auto answer = dialogue.ask(command);
    if (!answer) break;
    if (isError(*answer)) continue;
    *field = reportable(std::move(*answer));
    if (field != &identity.capabilities) unknown = false;
  }
  if (unknown && dialogue.replied()) {
    for (const char* command : {"ATI3", "ATI"}) {
      auto answer = dialogue.ask(command);
      if (!answer) break;
      if (isError(*answer)) continue;
      identity.identification = reportable(std::move(*answer));
      break;
    }
  }
  if (!dialogue.replied())
    identity.failure = "xrport_probe_noanswer";
  else if (!identity.manufacturer && !identity.model && !identity.revision && !identity.capabilities &&
           !identity.identification)
    identity.failure = "xrport_probe_noidentity";

  line.close();  // puts the line's settings back, gives up the lock
  return identity;
}

}  // namespace xr

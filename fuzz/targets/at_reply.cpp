// Reply assembly of an AT command fed in arbitrary chunks. Completion and cleaning must not
// depend on how the bytes were split, and must agree with the rule applied to the whole
// reply at once: a final "\r\nOK\r\n" or "\r\nERROR\r\n", or for a dial command anything but
// its echo and line breaks.
#include <cstdlib>
#include <string>

#include "atcommand/ATCommand.h"
#include "platform/NotificationCenter.h"

namespace {
const char* const kCommands[] = {"ATI4\r", "ATDT5551234\r", "AT\r", "ATI9\r"};
const std::string kName = "InputDataAvailableNotification";

void feed(xr::ATCommand& command, const std::string& bytes) {
  xr::Notification n{kName, nullptr, xr::makeDictionary({{kName, xr::dataWithString(bytes)}})};
  command.inputDataAvail(n);
}

std::string erased(std::string s, const std::string& command) {
  if (auto at = s.find(command); at != std::string::npos) s.erase(at, command.size());
  std::erase(s, '\r');
  std::erase(s, '\n');
  return s;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const std::string command = kCommands[data[0] % 4];
  const size_t chunk = data[1] % 16 + 1;
  const std::string reply(reinterpret_cast<const char*>(data + 2), size - 2);

  auto pieces = xr::ATCommand::atCommandWithCommandString(command);
  for (size_t at = 0; at < reply.size(); at += chunk) feed(*pieces, reply.substr(at, chunk));
  auto whole = xr::ATCommand::atCommandWithCommandString(command);
  if (!reply.empty()) feed(*whole, reply);

  bool expected = command.starts_with("ATD")
                      ? !erased(reply, command).empty()
                      : reply.find("\r\nOK\r\n") != std::string::npos ||
                            reply.find("\r\nERROR\r\n") != std::string::npos;
  if (pieces->responseIsComplete() != expected || whole->responseIsComplete() != expected) std::abort();
  if (pieces->response() != reply) std::abort();
  if (pieces->cleanUpResponse() != erased(reply, command)) std::abort();
  // A reply that is complete but cleans to nothing leaves the sender waiting.
  bool answered = expected && !erased(reply, command).empty();
  if (pieces->cleanedResponse().has_value() != answered) std::abort();
  if (answered && pieces->cleanedResponse() != whole->cleanedResponse()) std::abort();
  return 0;
}

// Reply assembly of an AT command fed in arbitrary chunks, checked against the completion
// rule applied after each chunk: a final "\r\nOK\r\n" or "\r\nERROR\r\n", or for a dial
// command anything but its echo and line breaks.
#include <algorithm>
#include <cstdlib>
#include <optional>
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

// The completion rule applied to what has arrived so far.
bool complete(const std::string& response, const std::string& command) {
  if (command.starts_with("ATD")) return !erased(response, command).empty();
  return response.find("\r\nOK\r\n") != std::string::npos || response.find("\r\nERROR\r\n") != std::string::npos;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const std::string command = kCommands[data[0] % 4];
  const size_t chunk = data[1] % 16 + 1;
  const std::string reply(reinterpret_cast<const char*>(data + 2), size - 2);

  // The rule is tested after every chunk, and each complete state that cleans to something
  // replaces the answer. Once complete, a non-dial reply stays complete, so its answer is the
  // whole reply's; a dial reply whose echo arrives split can complete on the echo's first
  // characters, so its answer may depend on the chunking.
  auto pieces = xr::ATCommand::atCommandWithCommandString(command);
  std::optional<std::string> answer;
  for (size_t at = 0; at < reply.size(); at += chunk) {
    feed(*pieces, reply.substr(at, chunk));
    const std::string sofar = reply.substr(0, std::min(reply.size(), at + chunk));
    if (complete(sofar, command) && !erased(sofar, command).empty()) answer = erased(sofar, command);
  }
  auto whole = xr::ATCommand::atCommandWithCommandString(command);
  if (!reply.empty()) feed(*whole, reply);

  const bool expected = complete(reply, command);
  if (pieces->responseIsComplete() != expected || whole->responseIsComplete() != expected) std::abort();
  if (pieces->response() != reply) std::abort();
  if (pieces->cleanUpResponse() != erased(reply, command)) std::abort();
  if (pieces->cleanedResponse() != answer) std::abort();
  // A reply that is complete but cleans to nothing leaves the sender waiting.
  const bool answered = expected && !erased(reply, command).empty();
  if (whole->cleanedResponse().has_value() != answered) std::abort();
  if (!command.starts_with("ATD") && answered && pieces->cleanedResponse() != whole->cleanedResponse()) std::abort();
  return 0;
}

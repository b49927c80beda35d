#include "atcommand/ExpectedResponseATCommand.h"

#include <algorithm>
#include <cctype>

namespace xr {
namespace {
char lowered(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// An empty answer proves nothing, so it is never found.
bool containsIgnoringCase(const std::string& text, const std::string& part) {
  if (part.empty()) return false;
  const auto found = std::search(text.begin(), text.end(), part.begin(), part.end(),
                                 [](char a, char b) { return lowered(a) == lowered(b); });
  return found != text.end();
}

ExpectedResponseATCommand::ResponseList okOnly() {
  static const auto ok = std::make_shared<const std::vector<std::string>>(std::vector<std::string>{"OK"});
  return ok;
}
}  // namespace

std::shared_ptr<ExpectedResponseATCommand> ExpectedResponseATCommand::atCommandWithCommandString(
    const std::string& command, Timeout timeout, ResponseList expectedResponses) {
  return std::make_shared<ExpectedResponseATCommand>(command, timeout, std::move(expectedResponses));
}

std::shared_ptr<ExpectedResponseATCommand> ExpectedResponseATCommand::atCommandWithCommandString(
    const std::string& command, ResponseList expectedResponses) {
  return std::make_shared<ExpectedResponseATCommand>(command, std::move(expectedResponses));
}

std::shared_ptr<ExpectedResponseATCommand> ExpectedResponseATCommand::atCommandExpectingOKResponse(
    const std::string& command) {
  return atCommandWithCommandString(command, okOnly());
}

std::shared_ptr<ExpectedResponseATCommand> ExpectedResponseATCommand::attentionATCommand() {
  return atCommandExpectingOKResponse("AT\r");
}

ExpectedResponseATCommand::ExpectedResponseATCommand(const std::string& command, Timeout timeout,
                                                     ResponseList expectedResponses)
    : ATCommand(command, timeout), _expectedResponses(std::move(expectedResponses)) {}

ExpectedResponseATCommand::ExpectedResponseATCommand(const std::string& command, ResponseList expectedResponses)
    : ATCommand(command), _expectedResponses(std::move(expectedResponses)) {}

void ExpectedResponseATCommand::send() {
  ATCommand::send();
  const std::optional<std::string> cleaned = cleanedResponse();
  if (!cleaned || cleaned->empty() || !_expectedResponses) return;
  for (const std::string& expected : *_expectedResponses) {
    if (containsIgnoringCase(*cleaned, expected)) {
      _isValidResponse = true;
      return;
    }
  }
}

}  // namespace xr

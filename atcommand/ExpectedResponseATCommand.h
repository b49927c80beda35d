#pragma once

#include <memory>
#include <string>
#include <vector>

#include "atcommand/ATCommand.h"

namespace xr {

// An AT command whose cleaned reply is checked against a list of answers that make it valid.
// No caller in the report: part of the plug-in's interface, kept working and tested.
class ExpectedResponseATCommand : public ATCommand {
 public:
  using ResponseList = std::shared_ptr<const std::vector<std::string>>;

  static std::shared_ptr<ExpectedResponseATCommand> atCommandWithCommandString(const std::string& command,
                                                                               Timeout timeout,
                                                                               ResponseList expectedResponses);
  static std::shared_ptr<ExpectedResponseATCommand> atCommandWithCommandString(const std::string& command,
                                                                               ResponseList expectedResponses);
  // Expects "OK".
  static std::shared_ptr<ExpectedResponseATCommand> atCommandExpectingOKResponse(const std::string& command);
  // "AT\r", expecting "OK".
  static std::shared_ptr<ExpectedResponseATCommand> attentionATCommand();

  ExpectedResponseATCommand(const std::string& command, Timeout timeout, ResponseList expectedResponses);
  ExpectedResponseATCommand(const std::string& command, ResponseList expectedResponses);

  // Sends, then isValidResponse() is true when the cleaned reply contains one of the expected
  // answers, ignoring case. Never set back to false.
  void send() override;

  const ResponseList& expectedResponses() const { return _expectedResponses; }
  void setExpectedResponses(ResponseList responses) { _expectedResponses = std::move(responses); }
  bool isValidResponse() const { return _isValidResponse; }
  void setIsValidResponse(bool valid) { _isValidResponse = valid; }

 private:
  ResponseList _expectedResponses;
  bool _isValidResponse = false;
};

}  // namespace xr

#include "atcommand/FreeTextQuery.h"

#include "atcommand/ATCommand.h"

namespace xr {

std::optional<std::string> sendFreeTextQuery(const std::string& command, std::chrono::milliseconds timeout,
                                             bool equipmentErrorsFinal) {
  const auto atCommand = ATCommand::atCommandWithCommandString(command, timeout);
  if (!atCommand) return std::nullopt;
  atCommand->setEquipmentErrorsFinal(equipmentErrorsFinal);
  atCommand->send();
  std::optional<std::string> answer = atCommand->cleanedResponse();
  if (answer) ATCommand::removeOKFromString(*answer);
  return answer;
}

}  // namespace xr

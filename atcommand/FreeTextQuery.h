#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace xr {

// Sends command on the open line (the shared data handler's) and waits up to timeout for its
// reply. The answer is the reply cleaned the way every free-text answer is: its echo, CRs, LFs
// and first "OK" removed ("ERROR" stays). nullopt when no complete reply came in time.
// equipmentErrorsFinal: a "+CME ERROR"/"+CMS ERROR" line completes it too (ATCommand).
std::optional<std::string> sendFreeTextQuery(const std::string& command, std::chrono::milliseconds timeout,
                                             bool equipmentErrorsFinal = false);

}  // namespace xr

#include "support/Holdings.h"

#include <sys/wait.h>

#include "platform/RegistryStore.h"
#include "support/Descriptors.h"
#include "support/ProcessResources.h"

namespace xr::test {

std::string holdings(const ScriptedModem* modem) {
  siginfo_t child{};
  // WNOWAIT: a zombie stays to be seen by the next look, and by the one who owns it.
  const bool children = ::waitid(P_ALL, 0, &child, WEXITED | WNOHANG | WNOWAIT) == 0;
  std::ostringstream text;
  text << "descriptors:";
  for (int fd : openDescriptors()) text << ' ' << fd;
  text << "; threads: " << threadCount() << "; child processes: " << (children ? "some" : "none")
       << "; registry: " << describe(RegistryStore::current()->outstanding());
  if (modem) text << "; modem line: " << lineSettings(modem->lineDescriptor());
  return text.str();
}

::testing::AssertionResult holdingsAre(const std::string& before, const ScriptedModem* modem) {
  std::string now;
  if (eventually([&] { return (now = holdings(modem)) == before; }, std::chrono::seconds(5)))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "before: " << before << "\nafter:  " << now;
}

}  // namespace xr::test

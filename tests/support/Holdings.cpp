#include "support/Holdings.h"

#include <sys/wait.h>

#include <sstream>

#include "support/Descriptors.h"
#include "support/ProcessResources.h"

namespace xr::test {
namespace {

bool hasChildProcesses() {
  siginfo_t info{};
  // WNOWAIT: a zombie stays to be seen by the next look, and by the one who owns it.
  return ::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == 0;
}

std::string describeSet(const std::set<int>& fds) {
  std::ostringstream text;
  for (int fd : fds) text << ' ' << fd;
  return text.str();
}

}  // namespace

Holdings Holdings::now(const ScriptedModem* modem) {
  Holdings h;
  h.descriptors = openDescriptors();
  h.threads = threadCount();
  h.children = hasChildProcesses();
  h.registry = RegistryStore::current()->outstanding();
  if (modem) {
    termios t{};
    if (::tcgetattr(modem->lineDescriptor(), &t) == 0) h.line = t;
  }
  return h;
}

::testing::AssertionResult sameHoldings(const Holdings& before, const ScriptedModem* modem) {
  Holdings after;
  const auto same = [&] {
    after = Holdings::now(modem);
    return after.descriptors == before.descriptors && after.threads == before.threads &&
           after.children == before.children && after.registry == before.registry &&
           after.line.has_value() == before.line.has_value() && (!after.line || sameLine(*after.line, *before.line));
  };
  if (eventually(same, std::chrono::seconds(5))) return ::testing::AssertionSuccess();
  auto failure = ::testing::AssertionFailure();
  if (after.descriptors != before.descriptors)
    failure << "descriptors before:" << describeSet(before.descriptors) << ", after:" << describeSet(after.descriptors)
            << "; ";
  if (after.threads != before.threads) failure << "threads " << before.threads << " -> " << after.threads << "; ";
  if (after.children != before.children) failure << "a child process is left; ";
  if (after.registry != before.registry)
    failure << "registry before: " << describe(before.registry) << ", after: " << describe(after.registry) << "; ";
  if (after.line.has_value() != before.line.has_value() || (after.line && !sameLine(*after.line, *before.line)))
    failure << "the modem line's attributes changed; ";
  return failure;
}

}  // namespace xr::test

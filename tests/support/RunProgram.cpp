#include "support/RunProgram.h"

#include <poll.h>

namespace xr::test {

std::unique_ptr<Process> startProgram(const std::string& path, const std::vector<std::string>& args,
                                      const std::map<std::string, std::string>& environment, std::string* error) {
  LaunchOptions options{.inheritEnvironment = true, .environment = {}, .separateErrors = true};
  for (const auto& [name, value] : environment) options.environment.push_back(name + "=" + value);
  return Process::launch(path, args, options, error);
}

ProgramResult finishProgram(Process& process) {
  ProgramResult result;
  // Both pipes read to their ends, whichever has data, so neither can fill and block the child.
  FileDescriptor ends[2] = {process.takeOutput(), process.takeErrors()};
  std::string* sinks[2] = {&result.out, &result.err};
  char buffer[4096];
  while (ends[0] || ends[1]) {
    pollfd fds[2] = {{ends[0].get(), POLLIN, 0}, {ends[1].get(), POLLIN, 0}};
    if (posix::poll(fds, 2, -1) < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t n = posix::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0)
        sinks[i]->append(buffer, static_cast<size_t>(n));
      else
        ends[i].reset();
    }
  }
  const Process::Termination end = process.wait();
  result.exited = end.exited;
  result.status = end.status;
  return result;
}

ProgramResult runProgram(const std::string& path, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& environment) {
  ProgramResult result;
  auto process = startProgram(path, args, environment, &result.err);
  return process ? finishProgram(*process) : result;
}

}  // namespace xr::test

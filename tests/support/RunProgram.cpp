#include "support/RunProgram.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/Posix.h"

extern char** environ;

namespace xr::test {
namespace {

std::vector<std::string> mergedEnvironment(const std::map<std::string, std::string>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    std::string name = entry.substr(0, entry.find('='));
    if (!extra.contains(name)) env.push_back(entry);
  }
  for (const auto& [name, value] : extra) env.push_back(name + "=" + value);
  return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (auto& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

// Reads both pipes to their ends, whichever has data, so neither can fill and block the child.
void drain(FileDescriptor& out, FileDescriptor& err, ProgramResult& result) {
  char buffer[4096];
  while (out || err) {
    pollfd fds[2] = {{out.get(), POLLIN, 0}, {err.get(), POLLIN, 0}};
    if (posix::poll(fds, 2, -1) < 0) return;
    FileDescriptor* ends[2] = {&out, &err};
    std::string* sinks[2] = {&result.out, &result.err};
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t n = posix::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0)
        sinks[i]->append(buffer, static_cast<size_t>(n));
      else
        ends[i]->reset();
    }
  }
}
}  // namespace

ProgramResult runProgram(const std::string& path, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& environment) {
  ProgramResult result;
  FileDescriptor outRead, outWrite, errRead, errWrite;
  if (!makePipe(&outRead, &outWrite) || !makePipe(&errRead, &errWrite)) {
    result.err = std::string("pipe: ") + std::strerror(errno);
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outWrite.get(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errWrite.get(), STDERR_FILENO);

  std::vector<std::string> argv{path};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> env = mergedEnvironment(environment);
  auto argvPointers = pointers(argv);
  auto envPointers = pointers(env);
  pid_t pid = -1;
  int rc = ::posix_spawn(&pid, path.c_str(), &actions, nullptr, argvPointers.data(), envPointers.data());
  posix_spawn_file_actions_destroy(&actions);
  outWrite.reset();
  errWrite.reset();
  if (rc != 0) {
    result.err = path + ": " + std::strerror(rc);
    return result;
  }
  drain(outRead, errRead, result);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exited = WIFEXITED(status);
  result.status = result.exited ? WEXITSTATUS(status) : WTERMSIG(status);
  return result;
}

}  // namespace xr::test

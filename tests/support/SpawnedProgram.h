#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/Posix.h"

extern char** environ;

namespace xr::test {

// A program started with its standard input on /dev/null, its standard output and error on
// pipes, then the given standard descriptors closed; the signals a test sends it at their
// default action, whatever the shell that started the tests ignores.
class SpawnedProgram {
 public:
  SpawnedProgram(const std::string& path, const std::vector<std::string>& args, const std::vector<int>& closed = {}) {
    makePipe(&outRead_, &outWrite_);
    makePipe(&errRead_, &errWrite_);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outWrite_.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errWrite_.get(), STDERR_FILENO);
    for (int fd : closed) posix_spawn_file_actions_addclose(&actions, fd);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signals;
    sigemptyset(&signals);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals, sig);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    std::vector<std::string> strings{path};
    strings.insert(strings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : strings) argv.push_back(s.data());
    argv.push_back(nullptr);
    EXPECT_EQ(::posix_spawn(&pid_, path.c_str(), &actions, &attributes, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    outWrite_.reset();
    errWrite_.reset();
  }
  SpawnedProgram(const SpawnedProgram&) = delete;
  SpawnedProgram& operator=(const SpawnedProgram&) = delete;
  ~SpawnedProgram() {
    if (pid_ > 0 && status_ < 0) {
      ::kill(pid_, SIGKILL);
      finish();
    }
  }

  pid_t pid() const { return pid_; }
  // Waits for the end; the raw wait status.
  int finish() {
    drain(outRead_, &out_);
    drain(errRead_, &err_);
    while (status_ < 0 && ::waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
    }
    return status_;
  }
  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }

 private:
  static void drain(FileDescriptor& fd, std::string* into) {
    char buffer[4096];
    ssize_t n;
    while ((n = posix::read(fd.get(), buffer, sizeof buffer)) > 0) into->append(buffer, static_cast<size_t>(n));
    fd.reset();
  }

  pid_t pid_ = -1;
  int status_ = -1;
  FileDescriptor outRead_, outWrite_, errRead_, errWrite_;
  std::string out_, err_;
};

}  // namespace xr::test

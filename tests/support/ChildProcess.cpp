#include "support/ChildProcess.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

namespace xr::test {

void inChildProcess(const std::function<void()>& body) {
  // What is buffered now would otherwise be printed twice.
  std::cout.flush();
  std::fflush(nullptr);
  const pid_t child = ::fork();
  ASSERT_NE(child, -1) << std::strerror(errno);
  if (child == 0) {
    body();
    const bool failed = ::testing::Test::HasFailure();
    std::cout.flush();
    std::fflush(nullptr);
    ::_exit(failed ? 1 : 0);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) == -1 && errno == EINTR) {
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << "the case failed in its own process (wait status " << status << ")";
}

}  // namespace xr::test

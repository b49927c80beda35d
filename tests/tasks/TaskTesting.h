#pragma once

#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <set>

#include "support/Descriptors.h"
#include "support/TempDirectory.h"

namespace xr {

// Every test ends as it began: the same descriptors open and no child process left unreaped.
class ToolTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(test::openDescriptors(), descriptorsBefore_);
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "a child was left behind";
    EXPECT_EQ(errno, ECHILD);
  }

  // A shell script at dir_/relative.
  std::string script(const std::string& relative, const std::string& body) {
    std::string path = dir_.write(relative, "#!/bin/sh\n" + body + "\n");
    ::chmod(path.c_str(), 0755);
    return path;
  }

  test::TempDirectory dir_;
  std::set<int> descriptorsBefore_ = test::openDescriptors();
};

}  // namespace xr

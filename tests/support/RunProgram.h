#pragma once

#include <map>
#include <string>
#include <vector>

namespace xr::test {

// What a finished program left behind: its standard output and standard error apart.
struct ProgramResult {
  bool exited = false;  // false: killed by a signal, or not started
  int status = -1;      // exit status when exited, else the signal number
  std::string out;
  std::string err;
};

// Runs path with args (the program name not included) to its end as a Process: standard input
// from /dev/null, the test's environment with the given variables added or replaced, standard
// error apart. A program that cannot be started is reported in err with exited false.
ProgramResult runProgram(const std::string& path, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& environment = {});

}  // namespace xr::test

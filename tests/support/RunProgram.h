#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Process.h"

namespace xr::test {

// What a finished program left behind: its standard output and standard error apart.
struct ProgramResult {
  bool exited = false;  // false: killed by a signal, or not started
  int status = -1;      // exit status when exited, else the signal number
  std::string out;
  std::string err;
};

// Starts path with args (the program name not included) as a Process: standard input from
// /dev/null, the test's environment with the given variables added or replaced, standard error
// apart. nullptr, with the reason in *error, when it cannot be started.
std::unique_ptr<Process> startProgram(const std::string& path, const std::vector<std::string>& args,
                                      const std::map<std::string, std::string>& environment = {},
                                      std::string* error = nullptr);
// Reads both of its pipes to their ends and waits for it.
ProgramResult finishProgram(Process& process);

// startProgram, then finishProgram. A program that cannot be started is reported in err with
// exited false.
ProgramResult runProgram(const std::string& path, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& environment = {});

}  // namespace xr::test

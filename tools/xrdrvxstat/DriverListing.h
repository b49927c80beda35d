#pragma once

#include <string>
#include <vector>

namespace xr {

// The loaded drivers and modules of the Linux system under root ("" or "/": this machine) in
// the listing format the driver version lookup parses, for xrdrvxstat's arguments (-l,
// -bNAME..., --root DIR). Returns the exit status: 0, or 2 with the usage in *output.
int listDrivers(const std::vector<std::string>& args, std::string root, std::string* output);

}  // namespace xr

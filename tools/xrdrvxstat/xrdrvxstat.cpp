// xrdrvxstat: lists the loaded drivers and kernel modules of this Linux machine in the
// driver-listing format the report reads, one line each:
//   Index Refs Address Size Wired Name (Version) <Dependencies>
// "(Version)" only when the module declares one in /sys/module/NAME/version; most built-in
// drivers do not, and then the line has no parentheses at all.
//
//   xrdrvxstat [-l] [-bNAME]... [--root DIR]
// -l is accepted for the listing tool's usual call; -bNAME lists only NAME (given several
// times, each of them: one run serves a report's every driver); --root reads a
// system tree under DIR instead of /, as XRREPORT_SYSTEM_ROOT does for xrreport (tests).
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/xrdrvxstat/DriverListing.h"

int main(int argc, char** argv) {
  const char* systemRoot = std::getenv("XRREPORT_SYSTEM_ROOT");
  std::string output;
  const int status =
      xr::listDrivers(std::vector<std::string>(argv + 1, argv + argc), systemRoot ? systemRoot : "", &output);
  std::fwrite(output.data(), 1, output.size(), status == 0 ? stdout : stderr);
  return std::fflush(status == 0 ? stdout : stderr) == 0 ? status : 1;
}

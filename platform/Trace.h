#pragma once

#include <functional>
#include <string_view>

namespace xr {

// The modem dialogue trace (xrreport --trace). Off unless a sink is set; the serial layer
// reports every read and write through it.
using TraceSink = std::function<void(std::string_view line)>;
void setTraceSink(TraceSink sink);
bool traceEnabled();
void trace(std::string_view line);

}  // namespace xr

#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace xr {

// The modem dialogue trace (xrreport --trace). Off unless a sink is set; the serial layer
// reports every read and write through it.
using TraceSink = std::function<void(std::string_view line)>;
void setTraceSink(TraceSink sink);
bool traceEnabled();
void trace(std::string_view line);

// Bytes as trace text: printable ASCII as it is; CR, LF, backslash and quote as \r, \n, \\, \";
// everything else as \xNN, so nothing from a device reaches the terminal raw.
std::string traceEscaped(std::string_view bytes);

// One line saying why something did not happen or what was chosen ("12.345 note  <text>"),
// stamped with the up-time like the dialogue's lines. The parts are joined only when the
// trace is on, so a note costs a flag test when it is off.
void traceNoteLine(std::string_view text);
template <typename... Parts>
void traceNote(const Parts&... parts) {
  if (!traceEnabled()) return;
  std::string text;
  (text.append(std::string_view(parts)), ...);
  traceNoteLine(text);
}

}  // namespace xr

#include "platform/Trace.h"

#include <atomic>
#include <cstdio>
#include <mutex>

#include "platform/UpTime.h"

namespace xr {
namespace {
std::mutex gMutex;
TraceSink gSink;
std::atomic<bool> gEnabled{false};
}  // namespace

void setTraceSink(TraceSink sink) {
  std::lock_guard lock(gMutex);
  gSink = std::move(sink);
  gEnabled = static_cast<bool>(gSink);
}

bool traceEnabled() { return gEnabled.load(std::memory_order_relaxed); }

void trace(std::string_view line) {
  if (!traceEnabled()) return;
  std::lock_guard lock(gMutex);
  if (gSink) gSink(line);
}

std::string traceEscaped(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      default:
        if (c >= 0x20 && c < 0x7f) {
          out.push_back(ch);
        } else {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\x%02x", c);
          out += hex;
        }
    }
  }
  return out;
}

void traceNoteLine(std::string_view text) {
  // Milliseconds as the dialogue's lines show them: seconds with three decimals.
  const uint64_t ms = upTimeMilliseconds();
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%llu.%03llu note  ", static_cast<unsigned long long>(ms / 1000),
                static_cast<unsigned long long>(ms % 1000));
  trace(std::string(stamp).append(text));
}

}  // namespace xr

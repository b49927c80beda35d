#include "platform/Trace.h"

#include <atomic>
#include <mutex>

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

}  // namespace xr

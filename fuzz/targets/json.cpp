// The JSON reader with its nesting and size limits: never crashes, and whatever it accepts
// is written back and read again to the same value.
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "platform/Json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto result = xr::parseJson(text, xr::JsonLimits{32, 1u << 20});
  if (!result.ok()) return 0;
  auto again = xr::parseJson(xr::toJson(result.value), xr::JsonLimits{32, 1u << 24});
  if (!again.ok() || !(again.value == result.value)) {
    std::fprintf(stderr, "round trip changed the value: %s\n", again.error.c_str());
    std::abort();
  }
  return 0;
}

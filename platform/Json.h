#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/Value.h"

namespace xr {

// Bounds applied before anything read from outside is turned into values.
struct JsonLimits {
  size_t maxDepth = 64;                 // arrays and objects nested in one another
  size_t maxBytes = 256u * 1024 * 1024;  // whole text
};

struct JsonResult {
  Value value;
  std::string error;  // empty on success; otherwise one line naming the fault
  bool ok() const { return error.empty(); }
};

// JSON text to a value. {"$data": "hex"} is a byte string; every other JSON value maps to
// the value of the same kind. Never throws.
JsonResult parseJson(std::string_view text, const JsonLimits& limits = {});

// The same for a file; errors begin with the file's path. A missing file is an error too:
// callers that treat absence as normal check for the file first or ignore the error.
// Only a regular file of at most limits.maxBytes is read (RegularFile.h).
JsonResult readJsonFile(const std::string& path, const JsonLimits& limits = {});
// An absolute path under the platform root, resolved inside it; errors name the full path.
JsonResult readJsonFileUnderPlatformRoot(std::string_view absolutePath, const JsonLimits& limits = {});

// Value to JSON text (indent < 0: one line). Byte strings become {"$data": "hex"}; bytes that
// are not UTF-8 are replaced, so any value can be written.
std::string toJson(const Value& value, int indent = 2);

}  // namespace xr

#pragma once

#include <cstddef>
#include <string_view>

namespace xr {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(std::string_view bytes);

// The length of bytes without an incomplete sequence at its very end (at most three bytes that
// could still become a character), so a text read in pieces is not cut inside a character.
size_t completeUtf8Prefix(std::string_view bytes);

}  // namespace xr

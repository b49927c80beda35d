#include "tasks/Utf8.h"

#include <cstdint>

namespace xr {

namespace {
// Length of the well-formed sequence at bytes[i], 0 when it is malformed, or -n when the text
// ends after n bytes of what is so far a valid sequence.
int sequenceAt(std::string_view bytes, size_t i) {
  const auto b = [&](size_t k) { return static_cast<uint8_t>(bytes[k]); };
  const uint8_t lead = b(i);
  if (lead < 0x80) return 1;
  int length;
  uint8_t low = 0x80, high = 0xBF;  // range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
  } else {
    return 0;
  }
  for (int k = 1; k < length; ++k) {
    if (i + k >= bytes.size()) return -k;
    const uint8_t c = b(i + k);
    if (k == 1 ? (c < low || c > high) : (c < 0x80 || c > 0xBF)) return 0;
  }
  return length;
}
}  // namespace

bool isValidUtf8(std::string_view bytes) {
  for (size_t i = 0; i < bytes.size();) {
    int n = sequenceAt(bytes, i);
    if (n <= 0) return false;
    i += static_cast<size_t>(n);
  }
  return true;
}

size_t completeUtf8Prefix(std::string_view bytes) {
  // Only the last three bytes can start an unfinished sequence.
  size_t from = bytes.size() > 3 ? bytes.size() - 3 : 0;
  for (size_t i = from; i < bytes.size(); ++i) {
    if ((static_cast<uint8_t>(bytes[i]) & 0xC0) == 0x80) continue;
    if (sequenceAt(bytes, i) < 0) return i;
  }
  return bytes.size();
}

}  // namespace xr

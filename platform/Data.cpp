#include "platform/Data.h"

namespace xr {
namespace {
constexpr char kHexDigits[] = "0123456789abcdef";

int hexNibble(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

Data::Data(const void* bytes, size_t length) { append(bytes, length); }

void Data::append(const void* bytes, size_t length) {
  if (length == 0) return;
  const auto* p = static_cast<const uint8_t*>(bytes);
  bytes_.insert(bytes_.end(), p, p + length);
}

std::string Data::description() const {
  std::string out;
  out.reserve(2 + bytes_.size() * 2 + bytes_.size() / 4);
  out.push_back('<');
  for (size_t i = 0; i < bytes_.size(); ++i) {
    if (i > 0 && i % 4 == 0) out.push_back(' ');
    out.push_back(kHexDigits[bytes_[i] >> 4]);
    out.push_back(kHexDigits[bytes_[i] & 0xF]);
  }
  out.push_back('>');
  return out;
}

std::string Data::hex() const {
  std::string out;
  out.reserve(bytes_.size() * 2);
  for (uint8_t b : bytes_) {
    out.push_back(kHexDigits[b >> 4]);
    out.push_back(kHexDigits[b & 0xF]);
  }
  return out;
}

std::optional<Data> Data::fromHex(std::string_view hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  std::vector<uint8_t> bytes;
  bytes.reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    int hi = hexNibble(hex[i]);
    int lo = hexNibble(hex[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    bytes.push_back(static_cast<uint8_t>(hi << 4 | lo));
  }
  return Data(std::move(bytes));
}

Data dataWithString(std::string_view string) { return Data(string.data(), string.size()); }

}  // namespace xr

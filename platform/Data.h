#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace xr {

// A byte buffer. Its text form is lower-case hexadecimal in angle brackets, groups of four
// bytes separated by a blank: <41540d0a 4f4b>.
class Data {
 public:
  Data() = default;
  explicit Data(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  Data(const void* bytes, size_t length);

  const uint8_t* bytes() const { return bytes_.data(); }
  size_t length() const { return bytes_.size(); }
  bool empty() const { return bytes_.empty(); }
  const std::vector<uint8_t>& vector() const { return bytes_; }
  std::vector<uint8_t>& vector() { return bytes_; }

  void append(const void* bytes, size_t length);
  void clear() { bytes_.clear(); }

  // The bytes taken one byte one character.
  std::string asString() const { return std::string(bytes_.begin(), bytes_.end()); }
  // <41540d0a 4f4b>
  std::string description() const;
  // Plain lower-case hexadecimal, no brackets or blanks: the "$data" form of JSON files.
  std::string hex() const;
  // Parses plain hexadecimal (either case, even length); nullopt for anything else.
  static std::optional<Data> fromHex(std::string_view hex);

  friend bool operator==(const Data&, const Data&) = default;

 private:
  std::vector<uint8_t> bytes_;
};

// A new buffer holding the string's characters, one byte each, without a terminator.
Data dataWithString(std::string_view string);

}  // namespace xr

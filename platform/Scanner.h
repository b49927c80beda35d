#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace xr {

// White space as the text readers understand it: blank, tab and the line-ending characters.
bool isWhiteSpaceOrNewline(char c);
bool isNewline(char c);  // LF, VT, FF, CR

// A text's decimal integer value: leading white space skipped, an optional sign, then the
// digits up to the first non-digit; 0 when there are none; saturated at the 32-bit range.
int32_t decimalIntegerValue(std::string_view text);

// The unsigned 32-bit hexadecimal number at the start of the text (white space skipped, an
// optional 0x or 0X), saturated; 0 when the text does not start with one.
uint32_t hexValue(std::string_view text);

// Reads items off a text. Before each item it skips white space and newlines.
class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  size_t location() const { return pos_; }
  void setLocation(size_t pos) { pos_ = pos < text_.size() ? pos : text_.size(); }
  std::string_view text() const { return text_; }
  // Nothing but white space is left.
  bool atEnd() const;

  // Takes the characters up to the stop text (or to the end); false when none were taken.
  bool scanUpToString(std::string_view stop, std::string* out);
  // Takes the characters up to the first one for which stop() is true; false when none.
  template <typename Pred>
  bool scanUpTo(Pred stop, std::string* out) {
    skip();
    size_t start = pos_;
    while (pos_ < text_.size() && !stop(text_[pos_])) ++pos_;
    if (pos_ == start) return false;
    if (out) out->assign(text_.substr(start, pos_ - start));
    return true;
  }
  // Consumes the text when it comes next.
  bool scanString(std::string_view s);
  // A signed decimal 32-bit integer (saturated).
  bool scanInt(int32_t* out);
  // An unsigned hexadecimal 32-bit integer, optional 0x prefix (saturated).
  bool scanHexInt(uint32_t* out);

 private:
  void skip();
  std::string_view text_;
  size_t pos_ = 0;
};

}  // namespace xr

#include "platform/Scanner.h"

#include <limits>

namespace xr {

bool isNewline(char c) { return c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
bool isWhiteSpaceOrNewline(char c) { return c == ' ' || c == '\t' || isNewline(c); }

int32_t decimalIntegerValue(std::string_view text) {
  Scanner s(text);
  int32_t v = 0;
  return s.scanInt(&v) ? v : 0;
}

uint32_t hexValue(std::string_view text) {
  Scanner s(text);
  uint32_t v = 0;
  return s.scanHexInt(&v) ? v : 0;
}

void Scanner::skip() {
  while (pos_ < text_.size() && isWhiteSpaceOrNewline(text_[pos_])) ++pos_;
}

bool Scanner::atEnd() const {
  for (size_t i = pos_; i < text_.size(); ++i)
    if (!isWhiteSpaceOrNewline(text_[i])) return false;
  return true;
}

bool Scanner::scanUpToString(std::string_view stop, std::string* out) {
  skip();
  size_t found = stop.empty() ? std::string_view::npos : text_.find(stop, pos_);
  size_t end = found == std::string_view::npos ? text_.size() : found;
  if (end == pos_) return false;
  if (out) out->assign(text_.substr(pos_, end - pos_));
  pos_ = end;
  return true;
}

bool Scanner::scanString(std::string_view s) {
  skip();
  if (text_.substr(pos_, s.size()) != s) return false;
  pos_ += s.size();
  return true;
}

bool Scanner::scanInt(int32_t* out) {
  skip();
  size_t p = pos_;
  bool negative = false;
  if (p < text_.size() && (text_[p] == '+' || text_[p] == '-')) negative = text_[p++] == '-';
  if (p >= text_.size() || text_[p] < '0' || text_[p] > '9') return false;
  int64_t v = 0;
  constexpr int64_t kLimit = static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1;
  for (; p < text_.size() && text_[p] >= '0' && text_[p] <= '9'; ++p) {
    if (v <= kLimit) v = v * 10 + (text_[p] - '0');
  }
  if (negative) v = -v;
  if (v > std::numeric_limits<int32_t>::max()) v = std::numeric_limits<int32_t>::max();
  if (v < std::numeric_limits<int32_t>::min()) v = std::numeric_limits<int32_t>::min();
  pos_ = p;
  if (out) *out = static_cast<int32_t>(v);
  return true;
}

bool Scanner::scanHexInt(uint32_t* out) {
  skip();
  auto isHex = [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  };
  size_t p = pos_;
  if (p + 2 < text_.size() && text_[p] == '0' && (text_[p + 1] == 'x' || text_[p + 1] == 'X') &&
      isHex(text_[p + 2]))
    p += 2;
  if (p >= text_.size() || !isHex(text_[p])) return false;
  uint64_t v = 0;
  for (; p < text_.size() && isHex(text_[p]); ++p) {
    char c = text_[p];
    int d = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
    if (v <= std::numeric_limits<uint32_t>::max()) v = v * 16 + static_cast<uint64_t>(d);
  }
  if (v > std::numeric_limits<uint32_t>::max()) v = std::numeric_limits<uint32_t>::max();
  pos_ = p;
  if (out) *out = static_cast<uint32_t>(v);
  return true;
}

}  // namespace xr

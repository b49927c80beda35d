#include <gtest/gtest.h>

#include "tasks/Utf8.h"

namespace xr {
namespace {

TEST(Utf8Test, ValidatesAndFindsTheLastWholeCharacter) {
  struct Case {
    std::string bytes;
    bool valid;
    size_t completePrefix;
  } cases[] = {
      {"", true, 0},
      {"caf\xC3\xA9", true, 5},
      {"\xDF\xBF", true, 2},          // U+07FF, the last two-byte character
      {"\xF0\x9F\x93\x9E", true, 4},
      {"\xF4\x8F\xBF\xBF", true, 4},   // U+10FFFF
      {"caf\xC3", false, 3},            // cut inside a character
      {"x\xF0\x9F\x93", false, 1},
      {"\xA9", false, 1},               // lone continuation byte
      {"\xE9t\xE9", false, 2},          // Latin-1
      {"\xC0\xAF", false, 2},           // overlong
      {"\xE0\x80\xAF", false, 3},       // overlong
      {"\xED\xA0\x80", false, 3},       // surrogate
      {"\xF4\x90\x80\x80", false, 4},   // above U+10FFFF
      {"\xE0\x80", false, 2},           // cut after a second byte that can never fit
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    EXPECT_EQ(isValidUtf8(c.bytes), c.valid);
    EXPECT_EQ(completeUtf8Prefix(c.bytes), c.completePrefix);
  }
}

}  // namespace
}  // namespace xr

#include <gtest/gtest.h>

#include "tasks/Utf8.h"

namespace xr {
namespace {

struct Utf8Case {
  const char* label;
  std::string bytes;
  bool valid;
  size_t completePrefix;
  friend void PrintTo(const Utf8Case& c, std::ostream* os) { *os << c.label; }
};

class Utf8Test : public testing::TestWithParam<Utf8Case> {};
TEST_P(Utf8Test, ValidatesAndFindsTheLastWholeCharacter) {
  const auto& c = GetParam();
  EXPECT_EQ(isValidUtf8(c.bytes), c.valid);
  EXPECT_EQ(completeUtf8Prefix(c.bytes), c.completePrefix);
}
INSTANTIATE_TEST_SUITE_P(
    Bytes, Utf8Test,
    testing::Values(Utf8Case{"Empty", "", true, 0}, Utf8Case{"Ascii", "lsof\n", true, 5},
                    Utf8Case{"TwoByte", "caf\xC3\xA9", true, 5}, Utf8Case{"FourByte", "\xF0\x9F\x93\x9E", true, 4},
                    Utf8Case{"MaxCodePoint", "\xF4\x8F\xBF\xBF", true, 4},
                    Utf8Case{"Nul", std::string("a\0b", 3), true, 3},
                    Utf8Case{"CutTwoByte", "caf\xC3", false, 3},
                    Utf8Case{"CutFourByteAfterThree", "x\xF0\x9F\x93", false, 1},
                    Utf8Case{"LoneContinuation", "\xA9", false, 1}, Utf8Case{"Latin1", "\xE9t\xE9", false, 2},
                    Utf8Case{"OverlongSlash", "\xC0\xAF", false, 2}, Utf8Case{"OverlongThree", "\xE0\x80\xAF", false, 3},
                    Utf8Case{"Surrogate", "\xED\xA0\x80", false, 3},
                    Utf8Case{"AboveMax", "\xF4\x90\x80\x80", false, 4}, Utf8Case{"FF", "ok\xFF", false, 3},
                    Utf8Case{"CutAfterBadSecondByte", "\xE0\x80", false, 2}),
    [](const auto& info) { return info.param.label; });

}  // namespace
}  // namespace xr

#include <gtest/gtest.h>

#include "platform/Scanner.h"

namespace xr {
namespace {

struct IntCase {
  const char* text;
  int32_t value;
};

class DecimalValueTest : public testing::TestWithParam<IntCase> {};
TEST_P(DecimalValueTest, ReadsLikeTheSystemReadsNumbers) {
  EXPECT_EQ(decimalIntegerValue(GetParam().text), GetParam().value);
}
INSTANTIATE_TEST_SUITE_P(Texts, DecimalValueTest,
                         testing::Values(IntCase{"181", 181}, IntCase{"  \r\n 015", 15}, IntCase{"-2,", -2},
                                         IntCase{"+7x", 7}, IntCase{"0x1F", 0}, IntCase{"", 0},
                                         IntCase{"abc", 0}, IntCase{"- 5", 0}, IntCase{"2147483647", 2147483647},
                                         IntCase{"99999999999999999999", 2147483647},
                                         IntCase{"-99999999999", -2147483647 - 1}));

struct HexCase {
  const char* text;
  uint32_t value;
};
class HexValueTest : public testing::TestWithParam<HexCase> {};
TEST_P(HexValueTest, ReadsHexadecimal) { EXPECT_EQ(hexValue(GetParam().text), GetParam().value); }
INSTANTIATE_TEST_SUITE_P(Texts, HexValueTest,
                         testing::Values(HexCase{"B5", 0xB5}, HexCase{" 0x1f", 0x1F}, HexCase{"0XaB", 0xAB},
                                         HexCase{"0x", 0}, HexCase{"0xg", 0}, HexCase{"g1", 0},
                                         HexCase{"FFFFFFFFFF", 0xFFFFFFFF}, HexCase{"", 0}));

TEST(ScannerTest, SkipsWhiteSpaceBeforeEachItem) {
  Scanner s("  p123\nc Some App\n");
  std::string token;
  ASSERT_TRUE(s.scanUpTo(isWhiteSpaceOrNewline, &token));
  EXPECT_EQ(token, "p123");
  s.setLocation(s.location() + 2);
  std::string name;
  ASSERT_TRUE(s.scanUpTo([](char c) { return c == '\n'; }, &name));
  EXPECT_EQ(name, "Some App");
  EXPECT_TRUE(s.atEnd());
  EXPECT_FALSE(s.scanUpTo(isWhiteSpaceOrNewline, &token));
}

TEST(ScannerTest, ScanUpToStringNeedsAtLeastOneCharacter) {
  Scanner s("-2,x");
  std::string out;
  EXPECT_FALSE(s.scanUpToString("-", &out));
  EXPECT_TRUE(s.scanString("-"));
  EXPECT_TRUE(s.scanUpToString(",", &out));
  EXPECT_EQ(out, "2");
  Scanner t(" abc");
  EXPECT_TRUE(t.scanUpToString(",", &out));
  EXPECT_EQ(out, "abc");
}

}  // namespace
}  // namespace xr

#include <gtest/gtest.h>

#include "platform/Scanner.h"

namespace xr {
namespace {

// The Scanner class itself is exercised by the lsof and firmware-text parsers' tables.
TEST(ScannerTest, DecimalAndHexValuesReadLikeTheSystemReadsNumbers) {
  struct Dec {
    const char* text;
    int32_t value;
  } decimals[] = {{"181", 181},  {"  \r\n 015", 15}, {"-2,", -2},         {"+7x", 7},
                  {"0x1F", 0},   {"", 0},            {"abc", 0},          {"- 5", 0},
                  {"2147483647", 2147483647},        {"99999999999999999999", 2147483647},
                  {"-99999999999", -2147483647 - 1}};
  for (const auto& c : decimals) EXPECT_EQ(decimalIntegerValue(c.text), c.value) << '"' << c.text << '"';
  struct Hex {
    const char* text;
    uint32_t value;
  } hexes[] = {{"B5", 0xB5}, {" 0x1f", 0x1F}, {"0XaB", 0xAB}, {"0x", 0},
               {"0xg", 0},   {"g1", 0},       {"FFFFFFFFFF", 0xFFFFFFFF}, {"", 0}};
  for (const auto& c : hexes) EXPECT_EQ(hexValue(c.text), c.value) << '"' << c.text << '"';
}

}  // namespace
}  // namespace xr

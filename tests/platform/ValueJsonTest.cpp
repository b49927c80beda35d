#include <gtest/gtest.h>

#include <string>

#include "platform/Json.h"

namespace xr {
namespace {

// A copy the reporter may add to without touching the plug-in's record, whose containers
// (later USB modems) it still shows.
TEST(ValueTest, MutableCopyIsANewDictionarySharingItsContainers) {
  auto list = makeArray();
  auto map = makeDictionary({{"list", list}});
  auto copy = mutableCopy(map);
  copy->set("extra", true);
  EXPECT_FALSE(map->contains("extra"));
  EXPECT_EQ(copy->get("list").array(), list);
}

TEST(JsonTest, RoundTripKeepsKindsOrderAndBytes) {
  auto inner = makeDictionary({{"z", 1}, {"a", 2.5}});
  auto root = makeDictionary({{"text", "Tarvo"}, {"int", int64_t{-7}}, {"bool", false}, {"null", Value()},
                              {"bytes", Data::fromHex("010d0402").value()}, {"empty bytes", Data()},
                              {"list", makeArray({"a", 1, inner})}, {"inner", inner}});
  std::string text = toJson(Value(root));
  EXPECT_NE(text.find("\"bytes\": {\n    \"$data\": \"010d0402\"\n  }"), std::string::npos) << text;
  auto back = parseJson(text);
  ASSERT_TRUE(back.ok()) << back.error;
  EXPECT_EQ(back.value, Value(root));  // dictionaries compare in key order
  // Only a lone "$data" key is a byte string, in either case of hex digit.
  EXPECT_EQ(parseJson(R"({"$data": "4F4b"})").value, Value(dataWithString("OK")));
  EXPECT_TRUE(parseJson(R"({"$data": "00", "x": 1})").value.dictionary());
  // Text that is not UTF-8 is written replaced, not thrown.
  EXPECT_EQ(toJson(Value(std::string("caf\xe9")), -1), "\"caf\xef\xbf\xbd\"");
}

TEST(JsonTest, RefusesMalformedTooDeepOrTooLargeInputNamingTheFault) {
  struct Case {
    std::string text;
    std::string expected;  // a fragment of the error
  } cases[] = {
      {"", "syntax error"}, {"{\"a\": }", "syntax error"}, {"{\"a\":1} trailing", "syntax error"},
      {"[[[[[[[[[1]]]]]]]]]", "nested deeper than 8"}, {"{\"$data\": \"abc\"}", "$data"},
      {"{\"$data\": 12}", "$data"}, {"{\"$data\": \"zz\"}", "$data"}, {"18446744073709551615", "out of range"},
      {std::string(2000, ' ') + "1", "larger than 1024"}, {std::string("{\"a\":1}\0[", 9), "NUL byte at offset 7"},
  };
  for (const auto& c : cases) {
    auto result = parseJson(c.text, JsonLimits{8, 1024});
    EXPECT_FALSE(result.ok());
    EXPECT_NE(result.error.find(c.expected), std::string::npos) << c.text.substr(0, 40) << ": " << result.error;
    EXPECT_TRUE(result.value.isNull());
  }
  // The depth limit counts containers, not scalars.
  EXPECT_TRUE(parseJson("[[[[[[[[1]]]]]]]]", JsonLimits{8, 1024}).ok());
  // Refused before it is walked: a million brackets fail fast, not by stack overflow.
  EXPECT_FALSE(parseJson(std::string(1000000, '[')).ok());
}

}  // namespace
}  // namespace xr

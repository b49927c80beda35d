#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/Json.h"

namespace xr {
namespace {

TEST(DataTest, DescriptionGroupsFourBytes) {
  EXPECT_EQ(Data().description(), "<>");
  EXPECT_EQ(dataWithString("AT\r").description(), "<41540d>");
  EXPECT_EQ(dataWithString("AT\r\nOK").description(), "<41540d0a 4f4b>");
  EXPECT_EQ(dataWithString("ABCDEFGH").description(), "<41424344 45464748>");
  EXPECT_EQ(Data::fromHex("00fF")->vector(), (std::vector<uint8_t>{0x00, 0xff}));
  EXPECT_FALSE(Data::fromHex("abc"));
  EXPECT_FALSE(Data::fromHex("zz"));
}

TEST(DictionaryTest, KeepsInsertionOrderThroughReplaceAndRemove) {
  Dictionary d;
  for (int i = 0; i < 20; ++i) d.set("k" + std::to_string(i), i);
  d.set("k3", "replaced");
  EXPECT_TRUE(d.remove("k0"));
  EXPECT_FALSE(d.remove("absent"));
  d.set("k0", 0);
  std::vector<std::string> keys;
  for (const auto& [k, v] : d) keys.push_back(k);
  ASSERT_EQ(keys.size(), 20u);
  EXPECT_EQ(keys.front(), "k1");
  EXPECT_EQ(keys[2], "k3");
  EXPECT_EQ(keys.back(), "k0");
  EXPECT_EQ(d.get("k3").stringValue(), "replaced");
  EXPECT_EQ(*d.get("k19").integer(), 19);
  EXPECT_TRUE(d.get("nope").isNull());
}

TEST(ValueTest, ContainersAreSharedAndCopiesShallow) {
  auto list = makeArray();
  auto map = makeDictionary({{"list", list}});
  list->push_back(Value(1));
  EXPECT_EQ(map->get("list").array()->size(), 1u);  // stored by reference

  auto copy = mutableCopy(map);
  copy->set("extra", true);
  EXPECT_FALSE(map->contains("extra"));
  EXPECT_EQ(copy->get("list").array(), list);  // nested containers are the same objects
}

TEST(JsonTest, RoundTripKeepsKindsOrderAndBytes) {
  auto inner = makeDictionary({{"z", 1}, {"a", 2.5}});
  auto root = makeDictionary({{"text", "Tarvo"},
                              {"int", int64_t{-7}},
                              {"bool", false},
                              {"null", Value()},
                              {"bytes", Data::fromHex("010d0402").value()},
                              {"empty bytes", Data()},
                              {"list", makeArray({"a", 1, inner})},
                              {"inner", inner}});
  std::string text = toJson(Value(root));
  EXPECT_NE(text.find("{\n      \"z\": 1,\n      \"a\": 2.5\n    }"), std::string::npos) << text;
  EXPECT_NE(text.find("\"bytes\": {\n    \"$data\": \"010d0402\"\n  }"), std::string::npos) << text;
  auto back = parseJson(text);
  ASSERT_TRUE(back.ok()) << back.error;
  EXPECT_EQ(back.value, Value(root));
  std::vector<std::string> keys;
  for (const auto& [k, v] : *back.value.dictionary()) keys.push_back(k);
  EXPECT_EQ(keys.front(), "text");
  EXPECT_EQ(keys.back(), "inner");
}

struct BadJson {
  std::string text;
  std::string expected;  // a fragment of the error
};

class JsonRejectsTest : public testing::TestWithParam<BadJson> {};

TEST_P(JsonRejectsTest, GivesAnErrorNotAValue) {
  auto result = parseJson(GetParam().text, JsonLimits{8, 1024});
  ASSERT_FALSE(result.ok());
  EXPECT_NE(result.error.find(GetParam().expected), std::string::npos) << result.error;
  EXPECT_TRUE(result.value.isNull());
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, JsonRejectsTest,
    testing::Values(BadJson{"", "syntax error"}, BadJson{"{\"a\": }", "syntax error"},
                    BadJson{"[1, 2", "syntax error"}, BadJson{"{\"a\":1} trailing", "syntax error"},
                    BadJson{"[[[[[[[[[1]]]]]]]]]", "nested deeper than 8"},
                    BadJson{"{\"$data\": \"abc\"}", "$data"}, BadJson{"{\"$data\": 12}", "$data"},
                    BadJson{"{\"$data\": \"zz\"}", "$data"},
                    BadJson{"18446744073709551615", "out of range"},
                    BadJson{std::string(2000, ' ') + "1", "larger than 1024"}));

TEST(JsonTest, DepthLimitCountsContainersNotScalars) {
  EXPECT_TRUE(parseJson("[[[[[[[[1]]]]]]]]", JsonLimits{8, 1024}).ok());
  // A deep file is refused before it is walked: a million brackets fail fast and cleanly.
  auto deep = std::string(1000000, '[');
  EXPECT_FALSE(parseJson(deep).ok());
}

TEST(JsonTest, DataLookalikesStayDictionaries) {
  auto two = parseJson(R"({"$data": "00", "x": 1})");
  ASSERT_TRUE(two.ok());
  EXPECT_TRUE(two.value.dictionary());
  auto bytes = parseJson(R"({"$data": "4F4b"})");
  ASSERT_TRUE(bytes.ok());
  ASSERT_TRUE(bytes.value.data());
  EXPECT_EQ(bytes.value.data()->asString(), "OK");
}

TEST(JsonTest, InvalidUtf8IsWrittenReplacedNotThrown) {
  std::string text = toJson(Value(std::string("caf\xe9")), -1);
  EXPECT_EQ(text, "\"caf\xef\xbf\xbd\"");
}

TEST(JsonTest, FilesNameThemselvesInErrors) {
  auto dir = std::filesystem::temp_directory_path() / ("xr-json-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::string path = (dir / "bad.json").string();
  EXPECT_EQ(readJsonFile(path).error.rfind(path + ": ", 0), 0u);
  FILE* f = std::fopen(path.c_str(), "w");
  std::fputs("{\"a\": [1,}", f);
  std::fclose(f);
  auto result = readJsonFile(path);
  EXPECT_EQ(result.error.rfind(path + ": ", 0), 0u) << result.error;
  ASSERT_TRUE(writeJsonFile(path, Value(makeDictionary({{"a", 1}}))));
  EXPECT_TRUE(readJsonFile(path).ok());
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace xr

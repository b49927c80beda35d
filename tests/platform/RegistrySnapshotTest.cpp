#include <gtest/gtest.h>

#include <string>

#include "platform/Registry.h"
#include "platform/RegistrySnapshot.h"
#include "support/RegistryTesting.h"

namespace xr {
namespace {

const char* const kGood = R"({
  "HwService": {"name": "Root", "class": "HwPlatform", "children": [
    {"name": "zel-io", "class": "ZelIO", "children": [
      {"name": "modem", "class": "HwSerialBSDClient",
       "properties": {"HwTTYDevice": "modem", "compatible": {"$data": "76616e74696b00"}, "count": 2,
                      "ratio": 0.5, "on": true, "list": [1, "a"], "map": {"k": {"$data": "ff"}}}},
      {"name": "modem", "class": "Second"}
    ]}
  ]},
  "HwDeviceTree": {"name": "dt", "class": "Root", "properties": {}, "children": []}
})";

TEST(RegistrySnapshotTest, LoadsEntriesPropertiesAndOrder) {
  auto result = parseRegistrySnapshot(kGood, "registry.json");
  ASSERT_TRUE(result.ok()) << result.error;
  const RegistryStore& store = *result.registry;
  const RegistryEntry* modem = store.entryAtPath("HwService:zel-io/modem");
  ASSERT_NE(modem, nullptr);
  EXPECT_EQ(modem->className(), "HwSerialBSDClient");  // the first of the two "modem"s
  EXPECT_EQ(store.property(modem, "compatible"), Value(dataWithString(std::string("vantik\0", 7))));
  EXPECT_EQ(store.property(modem, "HwTTYDevice"), Value("modem"));
  EXPECT_EQ(store.property(modem, "count"), Value(2));
  EXPECT_EQ(store.property(modem, "ratio"), Value(0.5));
  EXPECT_EQ(store.property(modem, "on"), Value(true));
  EXPECT_EQ(store.property(modem, "list"), Value(makeArray({1, "a"})));
  EXPECT_EQ(store.property(modem, "map"), Value(makeDictionary({{"k", Data(std::vector<uint8_t>{0xff})}})));
  EXPECT_EQ(store.properties(modem).size(), 7u);
  std::vector<std::string> names;
  for (auto* e : store.planeEntries("HwService", true)) names.push_back(e->className());
  EXPECT_EQ(names, (std::vector<std::string>{"ZelIO", "HwSerialBSDClient", "Second"}));
  EXPECT_EQ(store.entryAtPath("HwDeviceTree:")->name(), "dt");
  EXPECT_EQ(store.entryCount(), 5u);
}

std::string planes(const std::string& service) {
  return R"({"HwDeviceTree": {"name": "dt", "class": "Root"}, "HwService": )" + service + "}";
}
std::string underZel(const std::string& children) {
  return planes(R"({"name": "Root", "class": "R", "children": [{"name": "zel-io", "class": "Z", "children": [)" +
                children + "]}]}");
}

TEST(RegistrySnapshotTest, RefusesFaultyInputNamingFileAndEntry) {
  const std::string big(2 * 65537, 'a');
  struct Case {
    std::string text;
    std::string error;
  } cases[] = {
      {"", "registry.json: "},
      {"{\"HwService\": ", "registry.json: "},
      {"[]", "registry.json: must be an object with the keys \"HwService\" and \"HwDeviceTree\""},
      {R"({"HwService": {"name": "R", "class": "R"}})", "registry.json: the plane \"HwDeviceTree\" is missing"},
      {planes(R"({"name": "R", "class": "R"}, "HwServce": {})"), "registry.json: unknown plane \"HwServce\""},
      {planes("[]"), "registry.json: HwService: an entry must be an object, not array"},
      {planes(R"({"class": "R"})"), "registry.json: HwService: \"name\" is missing"},
      {planes(R"({"name": 3, "class": "R"})"), "registry.json: HwService: \"name\" must be a string"},
      {planes(R"({"name": "R"})"), "registry.json: HwService: \"class\" is missing"},
      {planes(R"({"name": "R", "class": "R", "clas": "R"})"), "registry.json: HwService: unknown key \"clas\""},
      {planes(R"({"name": "R", "class": "R", "children": {}})"),
       "registry.json: HwService: \"children\" must be an array"},
      {underZel(R"({"name": "a", "class": "A"}, {"name": "b", "class": "B"}, {"name": "c", "class": null})"),
       "registry.json: HwService/zel-io/children[2]: \"class\" must be a string"},
      {underZel(R"({"name": "a/b", "class": "A"})"), "registry.json: HwService/zel-io/children[0]: \"name\" must not contain \"/\""},
      {underZel(R"("modem")"), "registry.json: HwService/zel-io/children[0]: an entry must be an object, not string"},
      {underZel(R"({"name": "a", "class": "A", "chldren": []})"),
       "registry.json: HwService/zel-io/children[0]: unknown key \"chldren\""},
      {underZel(R"({"name": "a", "class": "A", "children": [{"name": "b", "class": "B", "children": [{"name": "c"}]}]})"),
       "registry.json: HwService/zel-io/a/b/children[0]: \"class\" is missing"},
      {underZel(R"({"name": "a", "class": "A", "properties": [1]})"),
       "registry.json: HwService/zel-io/children[0]: \"properties\" must be an object"},
      {underZel(R"({"name": "a", "class": "A", "properties": {"$data": "00"}})"),
       "registry.json: HwService/zel-io/children[0]: \"properties\" must be an object"},
      {underZel(R"({"name": "a", "class": "A", "properties": {"x": null}})"),
       "registry.json: HwService/zel-io/children[0]: property \"x\" is null"},
      {underZel(R"({"name": "a", "class": "A", "properties": {"x": [{"y": null}]}})"),
       "registry.json: HwService/zel-io/children[0]: property \"x\"[0].y is null"},
      {underZel(R"({"name": "a", "class": "A", "properties": {"modem-id": {"$data": ")" + big + R"("}}})"),
       "registry.json: HwService/zel-io/children[0]: property \"modem-id\" is a byte string of 65537 bytes, "
       "more than 65536"},
      {underZel(R"({"name": "a", "class": "A", "properties": {"t": ")" + big + R"("}})"),
       "registry.json: HwService/zel-io/children[0]: property \"t\" is a text of 131074 bytes, more than 65536"},
      {underZel(R"({"name": "a", "class": "A", "properties": {"modem-id": {"$data": "0g"}}})"), "registry.json: "},
  };
  for (const auto& c : cases) {
    auto result = parseRegistrySnapshot(c.text, "registry.json");
    EXPECT_FALSE(result.ok()) << c.text.substr(0, 200);
    if (c.error.back() == ' ') {
      EXPECT_EQ(result.error.rfind(c.error, 0), 0u) << result.error;
    } else {
      EXPECT_EQ(result.error, c.error);
    }
    EXPECT_EQ(result.error.find('\n'), std::string::npos);
  }
}

TEST(RegistrySnapshotTest, DeepNestingIsRefusedNotRecursedInto) {
  // A chain of 100000 entries: far past the depth bound, refused by the JSON reader.
  std::string text = planes("{\"name\": \"R\", \"class\": \"R\"}");
  std::string chain;
  for (int i = 0; i < 100000; ++i) chain += R"({"name": "n", "class": "C", "children": [)";
  for (int i = 0; i < 100000; ++i) chain += "]}";
  auto result = parseRegistrySnapshot(planes(chain), "deep.json");
  EXPECT_FALSE(result.ok());
  EXPECT_EQ(result.error.rfind("deep.json: nested deeper than", 0), 0u) << result.error;
  // Within the bound, a chain loads.
  chain.clear();
  for (int i = 0; i < 60; ++i) chain += R"({"name": "n", "class": "C", "children": [)";
  for (int i = 0; i < 60; ++i) chain += "]}";
  EXPECT_TRUE(parseRegistrySnapshot(planes(chain), "deep.json").ok());
}

TEST(RegistrySnapshotTest, FilesAreReadAndTheirFaultsNamed) {
  std::string dir = XR_SOURCE_DIR "/tests/hardware/snapshots/";
  auto result = readRegistrySnapshot(dir + "i2c-rom.json");
  ASSERT_TRUE(result.ok()) << result.error;
  EXPECT_NE(result.registry->entryAtPath("HwDeviceTree:zel-io/i2c/i2c-modem"), nullptr);
  result = readRegistrySnapshot(dir + "missing.json");
  EXPECT_FALSE(result.ok());
  EXPECT_EQ(result.error.rfind(dir + "missing.json: ", 0), 0u) << result.error;
}

}  // namespace
}  // namespace xr

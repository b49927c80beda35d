#include <gtest/gtest.h>

#include <string>

#include "platform/Registry.h"
#include "platform/RegistrySnapshot.h"

namespace xr {
namespace {

// Snapshots that load are every example machine's registry (ExamplesTest); here, those refused.
std::string planes(const std::string& service) {
  return R"({"HwDeviceTree": {"name": "dt", "class": "Root"}, "HwService": )" + service + "}";
}
std::string underZel(const std::string& children) {
  return planes(R"({"name": "Root", "class": "R", "children": [{"name": "zel-io", "class": "Z", "children": [)" +
                children + "]}]}");
}
std::string chain(int depth) {
  std::string text;
  for (int i = 0; i < depth; ++i) text += R"({"name": "n", "class": "C", "children": [)";
  for (int i = 0; i < depth; ++i) text += "]}";
  return text;
}

TEST(RegistrySnapshotTest, RefusesFaultyInputNamingFileAndEntry) {
  const std::string big(2 * 65537, 'a');
  const std::string at0 = "registry.json: HwService/zel-io/children[0]: ";
  struct Case {
    std::string text;
    std::string error;
  } cases[] = {
      {"[]", "registry.json: must be an object with the keys \"HwService\" and \"HwDeviceTree\""},
      {R"({"HwService": {"name": "R", "class": "R"}})", "registry.json: the plane \"HwDeviceTree\" is missing"},
      {planes(R"({"name": "R", "class": "R"}, "HwServce": {})"), "registry.json: unknown plane \"HwServce\""},
      {planes(R"({"class": "R"})"), "registry.json: HwService: \"name\" is missing"},
      {planes(R"({"name": "R", "class": "R", "children": {}})"),
       "registry.json: HwService: \"children\" must be an array"},
      {underZel(R"({"name": "a", "class": "A"}, {"name": "b", "class": "B"}, {"name": "c", "class": null})"),
       "registry.json: HwService/zel-io/children[2]: \"class\" must be a string"},
      {underZel(R"({"name": "a/b", "class": "A"})"), at0 + "\"name\" must not contain \"/\""},
      {underZel(R"("modem")"), at0 + "an entry must be an object, not string"},
      {underZel(R"({"name": "a", "class": "A", "chldren": []})"), at0 + "unknown key \"chldren\""},
      {underZel(R"({"name": "a", "class": "A", "children": [{"name": "b", "class": "B", "children": [{"name": "c"}]}]})"),
       "registry.json: HwService/zel-io/a/b/children[0]: \"class\" is missing"},
      {underZel(R"({"name": "a", "class": "A", "properties": {"$data": "00"}})"),
       at0 + "\"properties\" must be an object"},
      {underZel(R"({"name": "a", "class": "A", "properties": {"x": [{"y": null}]}})"),
       at0 + "property \"x\"[0].y is null"},
      {underZel(R"({"name": "a", "class": "A", "properties": {"modem-id": {"$data": ")" + big + R"("}}})"),
       at0 + "property \"modem-id\" is a byte string of 65537 bytes, more than 65536"},
      {underZel(R"({"name": "a", "class": "A", "properties": {"t": ")" + big + R"("}})"),
       at0 + "property \"t\" is a text of 131074 bytes, more than 65536"},
      // A chain far past the depth bound is refused by the JSON reader, not recursed into.
      {planes(chain(100000)), "registry.json: nested deeper than 160 levels"},
  };
  for (const auto& c : cases) {
    auto result = parseRegistrySnapshot(c.text, "registry.json");
    EXPECT_FALSE(result.ok()) << c.text.substr(0, 200);
    EXPECT_EQ(result.error, c.error);
  }
  EXPECT_TRUE(parseRegistrySnapshot(planes(chain(60)), "registry.json").ok());
}

}  // namespace
}  // namespace xr

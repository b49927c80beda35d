// Every example machine, reported on by the real xrreport: its modem item is the one kept
// beside it in expected.json (null: no modem item), its port items those in
// expected-ports.json (and, asked with --probe, expected-probe.json) when it keeps them, and
// the demo reads as expected.txt.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "platform/Json.h"
#include "support/RunProgram.h"
#include "support/TempDirectory.h"

namespace xr {
namespace {
namespace fs = std::filesystem;

const std::string kXrreport = XR_BINARY_DIR "/bin/xrreport";
const std::string kExamples = XR_SOURCE_DIR "/examples";
const std::string kDemo = "serial-pellan";

// The examples that keep this expected report beside them.
std::vector<std::string> examples(const std::string& expected = "expected.json") {
  std::vector<std::string> names;
  for (const auto& dir : fs::directory_iterator(kExamples))
    if (fs::exists(dir.path() / expected)) names.push_back(dir.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The modem item of an xrreport JSON report; null when there is none.
Value modemItem(const Value& report) {
  Value found;
  auto reports = report.array();
  if (!reports) return found;
  for (const Value& r : *reports) {
    auto dictionary = r.dictionary();
    auto items = dictionary ? dictionary->get("_items").array() : nullptr;
    if (!items) continue;
    for (const Value& item : *items)
      if (auto d = item.dictionary(); d && d->get("_name").stringValue() == "xrmodem_information") {
        EXPECT_TRUE(found.isNull()) << "two modem items";
        found = item;
      }
  }
  return found;
}

// The modem-ports plug-in's items (each has a kind) of an xrreport JSON report.
Value portItems(const Value& report) {
  auto found = makeArray();
  if (auto reports = report.array()) {
    for (const Value& r : *reports) {
      auto dictionary = r.dictionary();
      auto items = dictionary ? dictionary->get("_items").array() : nullptr;
      if (!items) continue;
      for (const Value& item : *items)
        if (auto d = item.dictionary(); d && d->contains("xrport_kind")) found->push_back(item);
    }
  }
  return Value(found);
}

Value reportOn(const std::string& dir, std::vector<std::string> extra = {}) {
  std::vector<std::string> args{"--format", "json", "--machine", dir};
  args.insert(args.end(), extra.begin(), extra.end());
  auto result = test::runProgram(kXrreport, args);
  EXPECT_TRUE(result.exited) << result.err;
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "") << "the plug-ins say nothing";
  auto report = parseJson(result.out);
  EXPECT_TRUE(report.ok()) << report.error;
  return report.value;
}

class ExampleTest : public testing::TestWithParam<std::string> {
 protected:
  std::string dir() const { return kExamples + "/" + GetParam(); }
};

TEST_P(ExampleTest, ReportHoldsTheExpectedItem) {
  auto result = test::runProgram(kXrreport, {"--format", "json", "--machine", dir()});
  ASSERT_TRUE(result.exited) << result.err;
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "") << "the plug-in says nothing";
  auto report = parseJson(result.out);
  ASSERT_TRUE(report.ok()) << report.error;
  auto expected = readJsonFile(dir() + "/expected.json");
  ASSERT_TRUE(expected.ok()) << expected.error;
  // Compared as text so that key order, which the host shows, counts too.
  EXPECT_EQ(toJson(modemItem(report.value)), toJson(expected.value));
}

class PortsExampleTest : public ExampleTest {};
class ProbedExampleTest : public ExampleTest {};

TEST_P(PortsExampleTest, PortItemsAreTheExpectedOnes) {
  auto expected = readJsonFile(dir() + "/expected-ports.json");
  ASSERT_TRUE(expected.ok()) << expected.error;
  EXPECT_EQ(toJson(portItems(reportOn(dir()))), toJson(expected.value));
}

// Probing takes lock files in the machine's lock directory: it runs on a copy.
TEST_P(ProbedExampleTest, PortItemsAreTheExpectedOnes) {
  auto expected = readJsonFile(dir() + "/expected-probe.json");
  ASSERT_TRUE(expected.ok()) << expected.error;
  test::TempDirectory copy;
  fs::copy(dir(), copy.path(), fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  EXPECT_EQ(toJson(portItems(reportOn(copy.path(), {"--probe"}))), toJson(expected.value));
  // The lock directory is as it was.
  if (!fs::exists(copy.path() + "/root/var")) return;
  for (const auto& entry : fs::recursive_directory_iterator(copy.path() + "/root/var")) {
    EXPECT_TRUE(fs::exists(fs::path(dir()) / fs::relative(entry.path(), copy.path()))) << entry.path();
  }
}

std::string testName(const testing::TestParamInfo<std::string>& info) {
  std::string name = info.param;
  std::replace(name.begin(), name.end(), '-', '_');
  return name;
}
INSTANTIATE_TEST_SUITE_P(Examples, ExampleTest, testing::ValuesIn(examples()), testName);
INSTANTIATE_TEST_SUITE_P(Examples, PortsExampleTest, testing::ValuesIn(examples("expected-ports.json")), testName);
INSTANTIATE_TEST_SUITE_P(Examples, ProbedExampleTest, testing::ValuesIn(examples("expected-probe.json")), testName);

// The demo as text; --trace adds the dialogue on stderr and changes nothing on stdout.
TEST(DemoTest, TextReportReadsAsExpectedAndTraceShowsTheDialogue) {
  const std::string expected = readFile(kExamples + "/" + kDemo + "/expected.txt");
  auto result = test::runProgram(kXrreport, {"--machine", kExamples + "/" + kDemo, "--trace"});
  ASSERT_TRUE(result.exited) << result.err;
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, expected);
  // Each line: up-time, then the direction, the bytes in hexadecimal and as escaped text; or a
  // note of why something is missing or what was chosen.
  const std::regex format(R"re(\d+\.\d{3} ((write|read ) <[0-9a-f ]*> "(.*)"|note  .+))re");
  std::istringstream lines(result.err);
  for (std::string line; std::getline(lines, line);) EXPECT_TRUE(std::regex_match(line, format)) << line;
  const size_t write = result.err.find(R"( write <41544934 0d> "ATI4\r")");
  EXPECT_NE(write, std::string::npos) << result.err;
  EXPECT_GT(result.err.find(R"(read  <)"), write) << "a reply showed above its command\n" << result.err;
  for (const char* note : {" note  no modem-id at HwDeviceTree:zel-io/i2c/i2c-modem\n",
                           " note  driver bundle com.tarvo.driver.TarvoSCCSerial at ",
                           " note  country list NewQuellOrPellan for code 181\n"}) {
    EXPECT_NE(result.err.find(note), std::string::npos) << note << result.err;
  }
}

void collectKeys(const Value& value, std::set<std::string>* keys) {
  if (auto d = value.dictionary()) {
    for (const auto& [key, inner] : *d) {
      keys->insert(key);
      collectKeys(inner, keys);
    }
  } else if (auto a = value.array()) {
    for (const Value& inner : *a) collectKeys(inner, keys);
  }
}

// A report key without a display text would show raw in the text report.
TEST(StringTableTest, NamesEveryKeyTheExamplesReport) {
  auto table = readJsonFile(XR_BINARY_DIR "/bin/XRModem.xrplugin/Localizable.json");
  ASSERT_TRUE(table.ok()) << table.error;
  auto texts = table.value.dictionary();
  ASSERT_TRUE(texts);
  std::set<std::string> keys{"xrmodem_information", "Serial", "USB", "I2S", "Direct Audio"};
  for (const auto& name : examples()) collectKeys(readJsonFile(kExamples + "/" + name + "/expected.json").value, &keys);
  keys.erase("_name");
  for (const auto& key : keys) {
    const Value* text = texts->find(key);
    EXPECT_TRUE(text && text->string() && !text->string()->empty()) << key;
  }
}

TEST(StringTableTest, PortsTableNamesEveryKeyTheExamplesReport) {
  auto table = readJsonFile(XR_BINARY_DIR "/bin/XRModemPorts.xrplugin/Localizable.json");
  ASSERT_TRUE(table.ok()) << table.error;
  auto texts = table.value.dictionary();
  ASSERT_TRUE(texts);
  std::set<std::string> keys;
  for (const auto& name : examples())
    for (const char* file : {"/expected-ports.json", "/expected-probe.json"})
      if (fs::exists(kExamples + "/" + name + file)) collectKeys(readJsonFile(kExamples + "/" + name + file).value, &keys);
  keys.erase("_name");
  EXPECT_FALSE(keys.empty());
  for (const auto& key : keys) {
    const Value* text = texts->find(key);
    EXPECT_TRUE(text && text->string() && !text->string()->empty()) << key;
  }
}

}  // namespace
}  // namespace xr

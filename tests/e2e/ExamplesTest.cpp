// Every example machine, reported on once by the real xrreport: its modem item is the one kept
// beside it in expected.json (null: no modem item), its port items those in
// expected-ports.json when it keeps them (and, asked with --probe, expected-probe.json); the
// demo's trace shows its dialogue.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>
#include <filesystem>
#include <future>
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
const std::string kSilent = "serial-silent";

// The examples that keep this expected report beside them.
std::vector<std::string> examples(const std::string& expected = "expected.json") {
  std::vector<std::string> names;
  for (const auto& dir : fs::directory_iterator(kExamples))
    if (fs::exists(dir.path() / expected)) names.push_back(dir.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// The items of an xrreport JSON report, across its plug-ins' reports, that pass keep.
Value itemsWhere(const Value& report, bool (*keep)(const Dictionary&)) {
  auto found = makeArray();
  for (const Value& r : report.array() ? *report.array() : Array{}) {
    auto items = r.dictionary() ? r.dictionary()->get("_items").array() : nullptr;
    for (const Value& item : items ? *items : Array{})
      if (item.dictionary() && keep(*item.dictionary())) found->push_back(item);
  }
  return Value(found);
}
bool isModem(const Dictionary& item) { return item.get("_name").stringValue() == "xrmodem_information"; }
bool isPort(const Dictionary& item) { return item.contains("xrport_kind"); }  // the modem-ports plug-in's

// Parses what xrreport wrote, which must be a whole JSON report and nothing on stderr.
Value parsedReport(const test::ProgramResult& result) {
  EXPECT_TRUE(result.exited && result.status == 0) << result.status << result.err;
  EXPECT_EQ(result.err, "") << "the plug-ins say nothing";
  auto report = parseJson(result.out);
  EXPECT_TRUE(report.ok()) << report.error;
  return report.value;
}
test::ProgramResult reportOn(const std::string& dir, const std::vector<std::string>& extra = {}) {
  std::vector<std::string> args{"--format", "json", "--machine", dir};
  args.insert(args.end(), extra.begin(), extra.end());
  return test::runProgram(kXrreport, args);
}

// An expected file's items, compared as text so that key order, which the host shows, counts too.
std::string expectedItems(const std::string& file) {
  auto expected = readJsonFile(file);
  EXPECT_TRUE(expected.ok()) << expected.error;
  if (expected.value.array()) return toJson(expected.value);
  return toJson(Value(expected.value.isNull() ? makeArray() : makeArray({expected.value})));
}

void expectItems(const std::string& dir, const test::ProgramResult& result) {
  const Value report = parsedReport(result);
  EXPECT_EQ(toJson(itemsWhere(report, isModem)), expectedItems(dir + "/expected.json"));
  if (fs::exists(dir + "/expected-ports.json")) {
    EXPECT_EQ(toJson(itemsWhere(report, isPort)), expectedItems(dir + "/expected-ports.json"));
  }
}

// The reports run side by side: most of their time is the modem's fixed pause. Each runs on a
// copy: a faulty report may take or clear the machine's lock files.
TEST(ExamplesTest, ReportsHoldTheExpectedItems) {
  test::TempDirectory dir;
  std::vector<std::pair<std::string, std::future<test::ProgramResult>>> runs;
  for (const std::string& name : examples()) {
    if (name == kSilent) continue;
    const std::string machine = dir.copy(kExamples + "/" + name, name);
    runs.emplace_back(machine, std::async(std::launch::async, reportOn, machine, std::vector<std::string>{}));
  }
  ASSERT_GT(runs.size(), 10u);
  for (auto& [machine, run] : runs) {
    SCOPED_TRACE(machine);
    expectItems(machine, run.get());
  }
}

// A modem that never answers: the report waits out every time-out of the dialogue.
TEST(ExamplesTest, SilentModemReportHoldsTheExpectedItems) {
  test::TempDirectory dir;
  const std::string machine = dir.copy(kExamples + "/" + kSilent, kSilent);
  expectItems(machine, reportOn(machine));
}

// Probing takes lock files in the machine's lock directory: it runs on a copy. (That each probe
// gives its lock back is the identity probe's test.)
TEST(ExamplesTest, ProbedPortItemsAreTheExpectedOnes) {
  for (const std::string& name : examples("expected-probe.json")) {
    SCOPED_TRACE(name);
    test::TempDirectory dir;
    const std::string copy = dir.copy(kExamples + "/" + name, "m");
    EXPECT_EQ(toJson(itemsWhere(parsedReport(reportOn(copy, {"--probe"})), isPort)),
              expectedItems(kExamples + "/" + name + "/expected-probe.json"));
  }
}

// --trace adds the dialogue on stderr. (The demo's text on stdout, with and without --trace, is
// the install test's and the standard descriptors' test's.)
TEST(DemoTest, TraceShowsTheDialogue) {
  auto result = test::runProgram(kXrreport, {"--machine", kExamples + "/" + kDemo, "--trace"});
  EXPECT_TRUE(result.exited && result.status == 0) << result.err;
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

// A report key without a display text would show raw in the text report.
TEST(StringTableTest, NamesEveryKeyTheExamplesReport) {
  struct Case {
    const char* bundle;
    std::vector<std::string> expected;  // the examples' files of the bundle's items
    std::set<std::string> keys;         // shown though no example holds them
  } cases[] = {
      {"XRModem", {"expected.json"}, {"xrmodem_information", "Serial", "USB", "I2S", "Direct Audio"}},
      {"XRModemPorts", {"expected-ports.json", "expected-probe.json"}, {}},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.bundle);
    auto table = readJsonFile(XR_BINARY_DIR "/bin/" + std::string(c.bundle) + ".xrplugin/Localizable.json");
    ASSERT_TRUE(table.ok() && table.value.dictionary()) << table.error;
    const std::regex key(R"re("([^"]+)":)re");  // each object's keys, as the files are written
    for (const auto& name : examples()) {
      for (const auto& file : c.expected) {
        const std::string text = test::readFile(kExamples + "/" + name + "/" + file);
        for (std::sregex_iterator it(text.begin(), text.end(), key), end; it != end; ++it) c.keys.insert((*it)[1]);
      }
    }
    c.keys.erase("_name");
    EXPECT_GT(c.keys.size(), 5u);
    for (const auto& key : c.keys) {
      const Value* text = table.value.dictionary()->find(key);
      EXPECT_TRUE(text && text->string() && !text->string()->empty()) << key;
    }
  }
}

}  // namespace
}  // namespace xr

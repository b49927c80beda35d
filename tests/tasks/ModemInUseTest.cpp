#include <gtest/gtest.h>

#include "reporter/XRModemPlugin.h"

namespace xr {
namespace {

struct LsofCase {
  const char* label;
  std::optional<std::string> output;
  std::optional<std::string> inUseBy;
  friend void PrintTo(const LsofCase& c, std::ostream* os) { *os << c.label; }
};

class LsofParseTest : public testing::TestWithParam<LsofCase> {};
TEST_P(LsofParseTest, JoinsTheCommandNamesInOrder) {
  const auto& c = GetParam();
  XRModemPlugin plugin(nullptr);
  plugin.retrieveProcessesUsingModemOutput(c.output);
  EXPECT_EQ(plugin.modemInfoDictionary()->get("xrmodem_modemInUseBy").stringValue(), c.inUseBy);
  EXPECT_EQ(plugin.appNamesAlreadyUsingModems(), c.inUseBy.value_or(""));
}
INSTANTIATE_TEST_SUITE_P(
    Outputs, LsofParseTest,
    testing::Values(LsofCase{"TwoApplications", "p241\ncModem Dialer\np388\ncFax\n", "Modem Dialer, Fax"},
                    LsofCase{"OneApplication", "p24714\ncpython3\n", "python3"},
                    LsofCase{"BlanksInsideTheName", "p1\nc  my  app \n", "my  app "},
                    LsofCase{"SameNameTwice", "p1\ncsleep\np2\ncsleep\n", "sleep, sleep"},
                    LsofCase{"EndsAfterAProcessLine", "p1\ncA\np2\n", "A"},
                    LsofCase{"EndsOneCharacterAfterAProcessLine", "p1\ncA\np2\nc", "A"},
                    LsofCase{"NoFinalNewline", "p1\ncA\np2\ncB", "A, B"},
                    LsofCase{"EmptyNameLine", "p1\nc\n", std::nullopt},
                    LsofCase{"OnlyAProcessLine", "p1", std::nullopt},
                    LsofCase{"Empty", "", std::nullopt}, LsofCase{"Nil", std::nullopt, std::nullopt}),
    [](const auto& info) { return info.param.label; });

TEST(LsofParseTest, AppendsToNamesAlreadyCollected) {
  XRModemPlugin plugin(nullptr);
  plugin.setAppNamesAlreadyUsingModems("A, ");
  plugin.retrieveProcessesUsingModemOutput("p2\ncB\n");
  EXPECT_EQ(plugin.modemInfoDictionary()->get("xrmodem_modemInUseBy"), Value("A, B"));
}

}  // namespace
}  // namespace xr

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/PlatformRoot.h"
#include "platform/Process.h"
#include "platform/RegistryStore.h"
#include "reporter/XRModemPlugin.h"
#include "serial/SerialPortList.h"
#include "tasks/TaskTesting.h"

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


// The modem's port is a real pseudo-terminal listed in a test registry; the open-files tool is
// linked into a test platform root.
class ModemInUseCheckTest : public ToolTest {
 protected:
  void SetUp() override {
    master_.reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    ASSERT_TRUE(master_.valid());
    ASSERT_EQ(::grantpt(master_.get()), 0);
    ASSERT_EQ(::unlockpt(master_.get()), 0);
    device_ = ::ptsname(master_.get());
    addPort("modem", device_);
    SerialPortList::resetSharedSerialPortList();
    ::symlink("/usr/bin/lsof", dir_.makeDirectory("root/usr/sbin").append("/lsof").c_str());
  }
  void TearDown() override {
    processes_.clear();
    master_.reset();
    SerialPortList::resetSharedSerialPortList();
    ToolTest::TearDown();
  }

  void addPort(const std::string& name, const std::string& path) {
    store_->addEntry(store_->root(RegistryStore::kServicePlane), name, "HwSerialBSDClient",
                     makeDictionary({{"HwSerialBSDClientType", "HwSerialStream"},
                                     {"HwTTYDevice", name},
                                     {"HwCalloutDevice", path}}));
  }
  // A process whose command name is name, holding the modem's device open.
  void hold(const std::string& name) {
    std::string link = dir_.makeDirectory("bin") + "/" + name;
    ::symlink(XR_HOLDOPEN_TOOL, link.c_str());
    auto holder = Process::launch(link, {device_});
    ASSERT_TRUE(holder);
    char said[5];
    ASSERT_EQ(::read(holder->outputDescriptor(), said, sizeof said), 5);  // "open\n"
    holders_.emplace_back(holder->pid(), name);
    processes_.push_back(std::move(holder));
  }
  // The holders' names in the tool's order, which is by process id.
  std::string expectedNames() {
    std::sort(holders_.begin(), holders_.end());
    std::string joined;
    for (const auto& [pid, name] : holders_) joined += (joined.empty() ? "" : ", ") + name;
    return joined;
  }
  std::optional<std::string> inUseBy() {
    return plugin_.modemInfoDictionary()->get("xrmodem_modemInUseBy").stringValue();
  }

  FileDescriptor master_;
  std::string device_;
  std::shared_ptr<RegistryStore> store_ = RegistryStore::create();
  ScopedRegistry registry_{store_};
  ScopedPlatformRoot root_{dir_.makeDirectory("root")};
  std::vector<std::pair<pid_t, std::string>> holders_;
  std::vector<std::unique_ptr<Process>> processes_;
  XRModemPlugin plugin_{nullptr};
};

TEST_F(ModemInUseCheckTest, NamesTheProcessesHoldingTheModem) {
  hold("Modem App");
  hold("Dialer");
  plugin_.checkIfModemInUseTask();
  EXPECT_EQ(inUseBy(), expectedNames());
  EXPECT_EQ(plugin_.appNamesAlreadyUsingModems(), expectedNames());
}

TEST_F(ModemInUseCheckTest, ASecondCheckStartsFromNoNames) {
  hold("Dialer");
  plugin_.checkIfModemInUseTask();
  plugin_.checkIfModemInUseTask();
  EXPECT_EQ(inUseBy(), "Dialer");
  processes_.clear();
  // Nobody holds it now: the tool exits non-zero, no names, the record keeps what it had.
  plugin_.checkIfModemInUseTask();
  EXPECT_EQ(plugin_.appNamesAlreadyUsingModems(), "");
  EXPECT_EQ(inUseBy(), "Dialer");
}

TEST_F(ModemInUseCheckTest, WithoutTheToolNothingChanges) {
  ::unlink(resolvePath("/usr/sbin/lsof").c_str());
  hold("Dialer");
  plugin_.setAppNamesAlreadyUsingModems("earlier");
  plugin_.checkIfModemInUseTask();
  EXPECT_EQ(plugin_.appNamesAlreadyUsingModems(), "earlier");
  EXPECT_EQ(inUseBy(), std::nullopt);
}

TEST_F(ModemInUseCheckTest, WithoutAModemPortOnlyTheNamesAreEmptied) {
  store_ = RegistryStore::create();
  ScopedRegistry noModem(store_);
  SerialPortList::resetSharedSerialPortList();
  hold("Dialer");
  plugin_.setAppNamesAlreadyUsingModems("earlier");
  plugin_.checkIfModemInUseTask();
  EXPECT_EQ(plugin_.appNamesAlreadyUsingModems(), "");
  EXPECT_EQ(inUseBy(), std::nullopt);
  SerialPortList::resetSharedSerialPortList();
}

struct FakeLsofCase {
  const char* label;
  std::string body;
  std::optional<std::string> inUseBy;
  friend void PrintTo(const FakeLsofCase& c, std::ostream* os) { *os << c.label; }
};

// Recorded and broken outputs, from a stand-in for the tool that also checks its arguments.
class FakeLsofTest : public ModemInUseCheckTest, public testing::WithParamInterface<FakeLsofCase> {};
TEST_P(FakeLsofTest, GivesTheNamesOrNothing) {
  ::unlink(resolvePath("/usr/sbin/lsof").c_str());
  script("root/usr/sbin/lsof", "[ \"$#\" = 2 ] && [ \"$1\" = -Fc ] && [ \"$2\" = '" + device_ +
                                   "' ] || exit 9\n" + GetParam().body);
  plugin_.checkIfModemInUseTask();
  EXPECT_EQ(inUseBy(), GetParam().inUseBy);
}
INSTANTIATE_TEST_SUITE_P(
    Outputs, FakeLsofTest,
    testing::Values(FakeLsofCase{"Recorded", "printf 'p24714\\ncpython3\\np24757\\ncModem App\\n'",
                                 "python3, Modem App"},
                    FakeLsofCase{"StderrOnly", "printf 'p1\\ncWarned\\n' >&2", "Warned"},
                    FakeLsofCase{"NonZeroExit", "printf 'p1\\ncA\\n'; exit 1", std::nullopt},
                    FakeLsofCase{"InvalidUtf8", "printf 'p1\\nc\\377\\n'", std::nullopt}),
    [](const auto& info) { return info.param.label; });

}  // namespace
}  // namespace xr

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/PlatformRoot.h"
#include "platform/Process.h"
#include "platform/RegistryStore.h"
#include "reporter/XRModemPlugin.h"
#include "support/RegistryTesting.h"
#include "support/SerialPortListPeer.h"
#include "tasks/TaskTesting.h"

namespace xr {
namespace {

TEST(LsofParseTest, JoinsTheCommandNamesInOrder) {
  struct Case {
    std::optional<std::string> output;
    std::optional<std::string> inUseBy;
  } cases[] = {
      {"p241\ncModem Dialer\np388\ncFax\n", "Modem Dialer, Fax"},
      {"p1\nc  my  app \n", "my  app "},
      {"p1\ncA\np2\nc", "A"},  // ends one character after a process line
      {"p1\ncA\np2\ncB", "A, B"},
      {"p1\nc\n", std::nullopt},
      {"p1", std::nullopt},
      {std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output.value_or("(nil)"));
    XRModemPlugin plugin(nullptr);
    plugin.retrieveProcessesUsingModemOutput(c.output);
    EXPECT_EQ(plugin.modemInfoDictionary()->get("xrmodem_modemInUseBy").stringValue(), c.inUseBy);
    EXPECT_EQ(plugin.appNamesAlreadyUsingModems(), c.inUseBy.value_or(""));
  }
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
    test::listSerialPort(*store_, "modem", device_);
    test::SerialPortListPeer::resetShared();
    ASSERT_EQ(::symlink("/usr/bin/lsof", lsof_.c_str()), 0);
  }
  void TearDown() override {
    holder_.reset();
    master_.reset();
    test::SerialPortListPeer::resetShared();
    ToolTest::TearDown();
  }

  // A process whose command name has blanks in it, holding the modem's device open.
  void holdTheModem() {
    std::string link = dir_.makeDirectory("bin") + "/Modem App";
    ASSERT_EQ(::symlink(XR_HOLDOPEN_TOOL, link.c_str()), 0);
    holder_ = Process::launch(link, {device_});
    ASSERT_TRUE(holder_);
    char said[5];
    ASSERT_EQ(::read(holder_->outputDescriptor(), said, sizeof said), 5);  // "open\n"
  }
  std::optional<std::string> inUseBy() {
    return plugin_.modemInfoDictionary()->get("xrmodem_modemInUseBy").stringValue();
  }

  FileDescriptor master_;
  std::string device_;
  std::shared_ptr<RegistryStore> store_ = RegistryStore::create();
  ScopedRegistry registry_{store_};
  ScopedPlatformRoot root_{dir_.makeDirectory("root")};
  const std::string lsof_ = dir_.makeDirectory("root/usr/sbin") + "/lsof";
  std::unique_ptr<Process> holder_;
  XRModemPlugin plugin_{nullptr};
};

TEST_F(ModemInUseCheckTest, NamesTheProcessHoldingTheModem) {
  holdTheModem();
  plugin_.checkIfModemInUseTask();
  EXPECT_EQ(plugin_.appNamesAlreadyUsingModems(), "Modem App");
  EXPECT_EQ(inUseBy(), "Modem App");
  // Nobody holds it now: the tool exits non-zero, no names (each check starts from none), the
  // record keeps what it had.
  holder_.reset();
  plugin_.checkIfModemInUseTask();
  EXPECT_EQ(plugin_.appNamesAlreadyUsingModems(), "");
  EXPECT_EQ(inUseBy(), "Modem App");
}

TEST_F(ModemInUseCheckTest, WithoutTheToolOrAModemPortNoNames) {
  ::unlink(lsof_.c_str());
  plugin_.setAppNamesAlreadyUsingModems("earlier");
  plugin_.checkIfModemInUseTask();
  EXPECT_EQ(plugin_.appNamesAlreadyUsingModems(), "earlier");

  ASSERT_EQ(::symlink("/usr/bin/lsof", lsof_.c_str()), 0);
  ScopedRegistry noModem(RegistryStore::create());
  test::SerialPortListPeer::resetShared();
  plugin_.checkIfModemInUseTask();
  EXPECT_EQ(plugin_.appNamesAlreadyUsingModems(), "");
  EXPECT_EQ(inUseBy(), std::nullopt);
  test::SerialPortListPeer::resetShared();
}

}  // namespace
}  // namespace xr

#include <gtest/gtest.h>

#include <filesystem>

#include "atcommand/ModemLine.h"
#include "platform/RegistryStore.h"
#include "reporter/XRModemPlugin.h"
#include "serial/SerialPortList.h"
#include "support/RegistryTesting.h"
#include "support/TempDirectory.h"

namespace xr {
namespace {

// The plug-in's dialogue: a registry that names the scripted modem's pty "modem".
class Dialogue : public test::ModemLine {
 protected:
  void SetUp() override {
    ModemLine::SetUp();
    SerialPortList::resetSharedSerialPortList();
  }
  void TearDown() override {
    port_ = TTYPort::sharedTTYPort();  // closed by ModemLine
    ModemLine::TearDown();
    SerialPortList::resetSharedSerialPortList();
    EXPECT_TRUE(test::allGivenBack(*store_));
  }
  void listPort(const char* name, const std::string& path) {
    store_->addEntry(store_->root("HwService"), name, "HwSerialBSDClient",
                     makeDictionary({{"HwSerialBSDClientType", "HwSerialStream"},
                                     {"HwTTYDevice", name},
                                     {"HwCalloutDevice", path}}));
  }

  std::shared_ptr<RegistryStore> store_ = RegistryStore::create();
  ScopedRegistry scoped_{store_};
  XRModemPlugin plugin_{nullptr};
};

TEST_F(Dialogue, OpensTheModemPortOnceAndAsksIt) {
  ModemScript script;
  script.replies["ATI4"] = ModemScript::framedResponse({"Tarvo Internal Modem"});
  script.replies["ATI1"] = ModemScript::framedResponse({"OKAY", "v1.2"});
  startModem(script);
  listPort("serial", "/dev/null");
  listPort("modem", modem_->devicePath());

  const auto port = TTYPort::sharedTTYPort();
  ASSERT_TRUE(plugin_.openInternalModemPort());
  EXPECT_TRUE(port->portOpened());
  EXPECT_EQ(port->path(), modem_->devicePath());
  EXPECT_EQ(port->serialOptions(), "8-N-1");
  EXPECT_EQ(port->portSpeed(), 115200);
  EXPECT_TRUE(port->dataHandler()->logDataEvents());
  const int descriptor = port->inDescriptor();
  port->setPath("/dev/null");
  EXPECT_TRUE(plugin_.openInternalModemPort());  // open already: nothing reconfigured
  EXPECT_EQ(port->inDescriptor(), descriptor);
  EXPECT_EQ(port->path(), "/dev/null");
  port->setPath(modem_->devicePath());

  const size_t logged = port->dataHandler()->eventLog().size();
  struct Case {
    std::string command;
    std::optional<std::string> answer;
  } cases[] = {
      {"ATI4\r", "Tarvo Internal Modem"},
      {"ATI1\r", "AYv1.2OK"},  // lines joined; only the first "OK" goes
      {"ATI7\r", "ERROR"},
  };
  for (const Case& c : cases) EXPECT_EQ(plugin_.sendAnUnknownResponseATCommand(c.command), c.answer) << c.command;
  std::string logText;
  for (const auto& entry : port->dataHandler()->eventLog()) logText += entry.logData.asString();
  EXPECT_GE(port->dataHandler()->eventLog().size(), logged + 6);
  EXPECT_NE(logText.find("ATI4\rATI4\r\r\nTarvo Internal Modem\r\n\r\nOK\r\n"), std::string::npos);

  // The next report finds the port closed with its settings, and opens it again.
  port->close();
  EXPECT_EQ(port->portSpeed(), 115200);
  ASSERT_TRUE(plugin_.openInternalModemPort());
  EXPECT_EQ(plugin_.sendAnUnknownResponseATCommand("ATI4\r"), "Tarvo Internal Modem");
}

TEST_F(Dialogue, SilentModemGivesNothingAfterFiveSeconds) {
  ModemScript script;
  script.silent.insert("ATI4");
  startModem(script);
  listPort("modem", modem_->devicePath());
  ASSERT_TRUE(plugin_.openInternalModemPort());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(plugin_.sendAnUnknownResponseATCommand("ATI4\r"), std::nullopt);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(Dialogue, NoUsableModemPortOpensNothing) {
  test::TempDirectory dir;
  const std::string link = dir.file("modem-link");
  startModem(ModemScript{});
  struct Case {
    const char* name;
    std::string path;
  } cases[] = {{"Modem", modem_->devicePath()}, {"modem", ""}, {"modem", link}};
  for (const Case& c : cases) {
    store_ = RegistryStore::create();
    ScopedRegistry scoped(store_);
    SerialPortList::resetSharedSerialPortList();
    listPort(c.name, c.path);
    EXPECT_FALSE(plugin_.openInternalModemPort()) << c.name << " " << c.path;
    EXPECT_FALSE(TTYPort::sharedTTYPort()->portOpened());
    EXPECT_TRUE(test::allGivenBack(*store_));
  }
  // A failed open is tried again on the next call.
  std::filesystem::create_symlink(modem_->devicePath(), link);
  EXPECT_TRUE(plugin_.openInternalModemPort());
  EXPECT_EQ(plugin_.sendAnUnknownResponseATCommand("AT\r"), "");
}

}  // namespace
}  // namespace xr

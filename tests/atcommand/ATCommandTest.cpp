// AT commands and the plug-in's dialogue on the shared serial port, opened on a real pty.
#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <thread>

#include "atcommand/ATCommand.h"
#include "atcommand/ExpectedResponseATCommand.h"
#include "platform/Posix.h"
#include "platform/RegistryStore.h"
#include "platform/Trace.h"
#include "reporter/XRModemPlugin.h"
#include "serial/TTYPort.h"
#include "support/Descriptors.h"
#include "support/Holdings.h"
#include "support/RegistryTesting.h"
#include "support/TempDirectory.h"
#include "support/SerialPortListPeer.h"
#include "profile/PseudoTerminal.h"
#include "profile/ScriptedModem.h"

namespace xr {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;
// Long enough for any answer on a loaded machine; waited out only by a test's failure.
constexpr milliseconds kAnswered{10000};
// Waited out by every command that gets no answer.
constexpr milliseconds kUnanswered{200};

std::optional<std::string> ask(const std::string& command, milliseconds limit = kAnswered) {
  const auto c = ATCommand::atCommandWithCommandString(command);
  c->setTimeout(limit);
  c->send();
  return c->cleanedResponse();
}

// The shared port, a registry of serial ports and a scripted modem on a line left at the
// kernel's defaults, as real serial devices start. Tearing down closes the port and stops the
// modem, then checks that nothing is left over and that the line has its attributes back.
class ModemLine : public testing::Test {
 protected:
  void SetUp() override {
    test::SerialPortListPeer::resetShared();
    port_->setLockDirectories({locks_.path()});
    holdings_ = test::holdings(nullptr);
  }
  void startModem(ModemScript script) {
    script.lineSettings = PseudoTerminal::LineSettings::kKernelDefault;
    std::string error;
    modem_ = ScriptedModem::start(std::move(script), &error);
    ASSERT_TRUE(modem_) << error;
    line_ = test::lineSettings(modem_->lineDescriptor());
  }
  void openLine(ModemScript script) {
    startModem(std::move(script));
    port_->setPath(modem_->devicePath());
    port_->open();
    ASSERT_TRUE(port_->portOpened());
  }
  void TearDown() override {
    port_->close();
    if (modem_) {
      EXPECT_EQ(test::lineSettings(modem_->lineDescriptor()), line_) << "line settings not restored";
    }
    modem_.reset();
    test::SerialPortListPeer::resetShared();
    EXPECT_TRUE(test::holdingsAre(holdings_, nullptr));
  }
  test::TempDirectory locks_;
  std::shared_ptr<TTYPort> port_ = TTYPort::sharedTTYPort();
  std::unique_ptr<ScriptedModem> modem_;
  std::string line_;      // the modem's line settings before the port opened it
  std::string holdings_;  // what the process held before the test
  std::shared_ptr<RegistryStore> store_ = RegistryStore::create();
  ScopedRegistry scoped_{store_};
};

// A reply stops growing at its limit and fails there, without waiting out its time.
TEST_F(ModemLine, FloodWithoutFinalResultFailsAtTheLimit) {
  constexpr size_t kFlood = 10u << 20;
  ModemScript s;
  s.replies["ATI4"] = Data(std::vector<uint8_t>(kFlood, 'A'));
  openLine(s);
  const auto command = ATCommand::atCommandWithCommandString("ATI4\r");
  command->setTimeout(milliseconds(60000));
  const auto start = Clock::now();
  command->send();
  EXPECT_LT(Clock::now() - start, milliseconds(30000));
  EXPECT_EQ(command->cleanedResponse(), std::nullopt);
  EXPECT_TRUE(command->responseOverflowed());
  EXPECT_EQ(command->response().size(), ATCommand::kResponseLimit);
  EXPECT_TRUE(command->response().starts_with("ATI4\rAAAA"));
}

// What follows a complete reply (here 1 MB of junk) never reaches the finished command.
TEST_F(ModemLine, ReplyIsFixedOnceSendReturns) {
  ModemScript s;
  s.replies["ATI4"] = dataWithString("\r\nOK\r\n" + std::string(1u << 20, 'x'));
  s.chunkSize = 4096;
  openLine(s);
  const auto command = ATCommand::atCommandWithCommandString("ATI4\r");
  command->setTimeout(kAnswered);
  command->send();
  const std::string response = command->response();
  ask("AT\r");  // lets the rest arrive
  EXPECT_EQ(command->response(), response);
  EXPECT_EQ(command->cleanedResponse(), command->cleanUpResponse());
}

TEST_F(ModemLine, ConcurrentSendersTakeTurns) {
  ModemScript s;
  s.replies["ATI1"] = ModemScript::framedResponse({"one"});
  s.replies["ATI4"] = ModemScript::framedResponse({"four"});
  openLine(s);
  auto asker = [](std::string command, std::string answer) {
    for (int i = 0; i < 20; ++i) EXPECT_EQ(ask(command), answer);
  };
  std::thread other(asker, "ATI1\r", "oneOK");
  asker("ATI4\r", "fourOK");
  other.join();
}

TEST_F(ModemLine, ExpectedResponses) {
  ModemScript s;
  s.replies["ATI3"] = ModemScript::framedResponse({"Hello World"});
  openLine(s);
  using List = std::vector<std::string>;
  auto expecting = [](const char* command, std::optional<List> list) {
    auto c = ExpectedResponseATCommand::atCommandWithCommandString(
        command, list ? std::make_shared<const List>(*list) : nullptr);
    c->setTimeout(kUnanswered);
    return c;
  };
  struct Case {
    std::shared_ptr<ExpectedResponseATCommand> command;
    std::optional<std::string> cleaned;
    bool valid;
  } cases[] = {
      {ExpectedResponseATCommand::attentionATCommand(), "OK", true},
      {expecting("ATI3\r", List{"x", "WORLD"}), "Hello WorldOK", true},
      {expecting("ATI3\r", std::nullopt), "Hello WorldOK", false},
      {ExpectedResponseATCommand::atCommandExpectingOKResponse("ATQ\r"), "ERROR", false},
  };
  for (const Case& c : cases) {
    c.command->send();
    EXPECT_EQ(c.command->cleanedResponse(), c.cleaned) << c.command->command();
    EXPECT_EQ(c.command->isValidResponse(), c.valid) << c.command->command();
  }
}

// The test plays the modem itself: its first answer comes only after the command gave up,
// while the next command is written or just after. Either way the next command gets its own.
struct Late {
  const char* label;
  bool echo;
  bool lateAfterNextWrite;  // the late reply comes after the next command is written
};

void PrintTo(const Late& l, std::ostream* os) { *os << l.label; }

class LateReplies : public ModemLine, public testing::WithParamInterface<Late> {};

TEST_P(LateReplies, AreNeverTakenByTheNextCommand) {
  const Late& l = GetParam();
  std::string error;
  auto pty = PseudoTerminal::open(&error, PseudoTerminal::LineSettings::kKernelDefault);
  ASSERT_TRUE(pty) << error;
  port_->setPath(pty->slavePath());
  port_->open();
  ASSERT_TRUE(port_->portOpened());
  std::vector<std::string> notes;
  setTraceSink([&](std::string_view line) {
    if (line.find(" note  ") != std::string_view::npos) notes.emplace_back(line);
  });

  const int master = pty->masterDescriptor();
  auto readCommand = [master] {
    return test::readUntil(master, [](const std::string& got) { return got.ends_with("\r"); });
  };
  auto send = [master](const std::string& bytes) {
    EXPECT_EQ(posix::write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  };
  auto echo = [&](const std::string& command) { return l.echo ? command : std::string(); };
  std::promise<void> gaveUp, lateSent;
  std::thread modem([&] {
    // An answered command first: the dialogue learns whether this modem echoes.
    EXPECT_EQ(readCommand(), "AT\r");
    send(echo("AT\r") + "\r\nOK\r\n");
    EXPECT_EQ(readCommand(), "ATI4\r");
    gaveUp.get_future().wait();
    const std::string late = echo("ATI4\r") + "\r\nLATE\r\n\r\nOK\r\n";
    if (!l.lateAfterNextWrite) send(late);
    lateSent.set_value();
    EXPECT_EQ(readCommand(), "ATI5\r");
    if (l.lateAfterNextWrite) send(late);
    send(echo("ATI5\r") + "\r\nMINE\r\n\r\nOK\r\n");
  });
  EXPECT_EQ(ask("AT\r"), "OK");
  const auto start = Clock::now();
  EXPECT_EQ(ask("ATI4\r", kUnanswered), std::nullopt);
  EXPECT_GE(Clock::now() - start, kUnanswered);
  gaveUp.set_value();
  if (!l.lateAfterNextWrite) lateSent.get_future().wait();
  EXPECT_EQ(ask("ATI5\r"), "MINEOK");
  modem.join();
  port_->close();
  setTraceSink(nullptr);
  ASSERT_GE(notes.size(), 1u);
  EXPECT_TRUE(notes[0].ends_with(R"( note  "ATI4\r": no complete reply within 200 ms)")) << notes[0];
}

// Without an echo nothing tells a late reply that comes after the next command is written
// from that command's own, so that case is only guarded for a modem that echoes.
INSTANTIATE_TEST_SUITE_P(Modem, LateReplies,
                         testing::Values(Late{"no_echo_late_before_next_write", false, false},
                                         Late{"echo_late_before_next_write", true, false},
                                         Late{"echo_late_after_next_write", true, true}),
                         [](const auto& info) { return std::string(info.param.label); });

// The plug-in's dialogue: it opens the port the registry names "modem", once, and asks it.
TEST_F(ModemLine, Dialogue) {
  ModemScript script;
  script.replies["ATI1"] = ModemScript::framedResponse({"OKAY", "v1.2"});
  startModem(script);
  test::TempDirectory dir;
  const std::string link = dir.file("modem");
  test::listSerialPort(*store_, "serial", modem_->devicePath());
  test::listSerialPort(*store_, "modem", link);
  XRModemPlugin plugin(nullptr);
  plugin.setDialogueTiming({.queryTimeout = kUnanswered, .firmwarePause = {}});
  EXPECT_FALSE(plugin.openInternalModemPort());  // nothing at the path yet
  EXPECT_FALSE(port_->portOpened());
  std::filesystem::create_symlink(modem_->devicePath(), link);
  ASSERT_TRUE(plugin.openInternalModemPort());  // tried again
  const int descriptor = port_->inDescriptor();
  port_->setPath("/dev/null");
  EXPECT_TRUE(plugin.openInternalModemPort());  // open already: nothing reconfigured
  EXPECT_EQ(port_->inDescriptor(), descriptor);
  EXPECT_EQ(port_->path(), "/dev/null");

  EXPECT_EQ(plugin.sendAnUnknownResponseATCommand("ATI1\r"), "AYv1.2OK");  // lines joined; only the first "OK" goes
}

}  // namespace
}  // namespace xr

#include <gtest/gtest.h>
#include <poll.h>

#include <thread>

#include "atcommand/ATCommand.h"
#include "atcommand/ExpectedResponseATCommand.h"
#include "atcommand/ModemLine.h"
#include "platform/Posix.h"
#include "tools/modemsim/PseudoTerminal.h"

namespace xr {
namespace {
using namespace std::string_literals;
using test::ModemLine;

struct Behaviour {
  std::string label;
  ModemScript script;
  std::optional<std::string> answer;  // the cleaned reply to "ATI4\r"; nullopt: times out
};

ModemScript answering(const std::string& reply) {
  ModemScript s;
  s.replies["ATI4"] = dataWithString(reply);
  return s;
}

std::vector<Behaviour> behaviours() {
  std::vector<Behaviour> all;
  const std::string reply = "\r\nTarvo Internal Modem\r\n\r\nOK\r\n";
  // The same bytes in every chunking the modem can make.
  for (size_t chunk : {0, 1, 2, 3, 5, 7, 11}) {
    ModemScript s = answering(reply);
    s.chunkSize = chunk;
    s.chunkDelayMs = chunk == 0 ? 0 : 1;
    all.push_back({"chunks of " + std::to_string(chunk), s, "Tarvo Internal ModemOK"});
  }
  ModemScript noEcho = answering(reply);
  noEcho.echo = false;
  all.push_back({"no echo", noEcho, "Tarvo Internal ModemOK"});
  ModemScript slow = answering(reply);
  slow.replyDelayMs = 300;
  all.push_back({"slow", slow, "Tarvo Internal ModemOK"});
  all.push_back({"error", ModemScript{}, "ERROR"});
  all.push_back({"NUL bytes", answering("\r\nA\0B\r\n\r\nOK\r\n"s), "A\0BOK"s});
  all.push_back({"lower case", answering("\r\nok\r\n"), std::nullopt});
  ModemScript never;
  never.silent.insert("ATI4");
  all.push_back({"never", never, std::nullopt});
  return all;
}

void PrintTo(const Behaviour& b, std::ostream* os) { *os << b.label; }

class Answers : public ModemLine, public testing::WithParamInterface<Behaviour> {};

TEST_P(Answers, EndWithinTheTimeOut) {
  const Behaviour& b = GetParam();
  openLine(b.script);
  const auto command = ATCommand::atCommandWithCommandString("ATI4\r", 1);
  const auto start = std::chrono::steady_clock::now();
  command->send();
  EXPECT_EQ(command->cleanedResponse(), b.answer);
  if (!b.answer) {
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  }
  EXPECT_EQ(modem_->receivedCommands(), std::vector<std::string>{"ATI4"});

  // The line still serves the next command.
  const auto next = ATCommand::atCommandWithCommandString("AT\r", 5);
  next->send();
  EXPECT_EQ(next->cleanedResponse(), "OK");
}

INSTANTIATE_TEST_SUITE_P(Modem, Answers, testing::ValuesIn(behaviours()), [](const auto& info) {
  std::string name;
  for (char c : info.param.label) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
});

TEST_F(ModemLine, FloodWithoutFinalResultTimesOut) {
  constexpr size_t kFlood = 10u * 1024 * 1024;
  ModemScript s;
  s.replies["ATI4"] = Data(std::vector<uint8_t>(kFlood, 'A'));
  openLine(s);
  const auto command = ATCommand::atCommandWithCommandString("ATI4\r", 3);
  command->send();
  EXPECT_EQ(command->cleanedResponse(), std::nullopt);
  EXPECT_LE(command->response().size(), kFlood + 5);
  EXPECT_TRUE(command->response().starts_with("ATI4\rAAAA"));
}

TEST_F(ModemLine, ReplyIsFixedOnceSendReturns) {
  ModemScript s;
  s.replies["ATI4"] = dataWithString("\r\nOK\r\n" + std::string(1u << 20, 'x'));
  s.chunkSize = 4096;
  openLine(s);
  const auto command = ATCommand::atCommandWithCommandString("ATI4\r", 5);
  command->send();
  const std::string response = command->response();
  ASSERT_EQ(command->cleanedResponse(), command->cleanUpResponse());
  // Let the rest of the junk arrive: none of it may reach the finished command.
  const auto rest = ATCommand::atCommandWithCommandString("AT\r", 5);
  rest->send();
  EXPECT_EQ(command->response(), response);
  EXPECT_EQ(command->cleanedResponse(), command->cleanUpResponse());
}

TEST_F(ModemLine, ConcurrentSendersTakeTurns) {
  ModemScript s;
  s.replies["ATI1"] = ModemScript::framedResponse({"one"});
  s.replies["ATI4"] = ModemScript::framedResponse({"four"});
  openLine(s);
  auto asker = [](std::string command, std::string answer) {
    for (int i = 0; i < 20; ++i) {
      const auto c = ATCommand::atCommandWithCommandString(command, 5);
      c->send();
      EXPECT_EQ(c->cleanedResponse(), answer);
    }
  };
  std::thread other(asker, "ATI1\r", "oneOK");
  asker("ATI4\r", "fourOK");
  other.join();
}

TEST_F(ModemLine, ModemVanishingMidReplyEndsInTheTimeOut) {
  ModemScript s;
  s.replies["ATI4"] = dataWithString("\r\nTarvo Inte");
  s.hangUpAfter.insert("ATI4");
  openLine(s);
  lineDropped_ = true;
  const auto command = ATCommand::atCommandWithCommandString("ATI4\r", 1);
  command->send();
  EXPECT_EQ(command->cleanedResponse(), std::nullopt);
  EXPECT_TRUE(test::eventually([&] { return test::threadCount() == baseThreads_; }))
      << "the read thread should end once the line is gone";
  const auto after = ATCommand::atCommandWithCommandString("AT\r", 1);
  after->send();
  EXPECT_EQ(after->cleanedResponse(), std::nullopt);
}

TEST_F(ModemLine, ExpectedResponses) {
  ModemScript s;
  s.replies["ATI3"] = ModemScript::framedResponse({"Hello World"});
  s.replies["ATL"] = dataWithString("\r\nok\r\n");
  openLine(s);
  using List = std::vector<std::string>;
  struct Case {
    std::shared_ptr<ExpectedResponseATCommand> command;
    std::optional<std::string> cleaned;
    bool valid;
  } cases[] = {
      {ExpectedResponseATCommand::attentionATCommand(), "OK", true},
      {ExpectedResponseATCommand::atCommandWithCommandString("ATI3\r", std::make_shared<List>(List{"x", "WORLD"})),
       "Hello WorldOK", true},
      {ExpectedResponseATCommand::atCommandWithCommandString("ATI3\r", std::make_shared<List>(List{"planet"})),
       "Hello WorldOK", false},
      {ExpectedResponseATCommand::atCommandWithCommandString("ATI3\r", std::make_shared<List>(List{""})),
       "Hello WorldOK", false},
      {ExpectedResponseATCommand::atCommandWithCommandString("ATI3\r", nullptr), "Hello WorldOK", false},
      {ExpectedResponseATCommand::atCommandExpectingOKResponse("ATQ\r"), "ERROR", false},
      // Lower case never completes, so "ok" is not even looked at.
      {ExpectedResponseATCommand::atCommandWithCommandString("ATL\r", 1, std::make_shared<List>(List{"OK"})),
       std::nullopt, false},
  };
  for (const Case& c : cases) {
    c.command->send();
    EXPECT_EQ(c.command->cleanedResponse(), c.cleaned) << c.command->command();
    EXPECT_EQ(c.command->isValidResponse(), c.valid) << c.command->command();
  }
}

// The test plays the modem itself: it answers a command only after the command gave up.
TEST(LateReply, IsNeverTakenByTheNextCommand) {
  std::string error;
  auto pty = PseudoTerminal::open(&error);
  ASSERT_TRUE(pty) << error;
  const auto port = TTYPort::sharedTTYPort();
  port->setPath(pty->slavePath());
  port->open();
  ASSERT_TRUE(port->portOpened());

  const int master = pty->masterDescriptor();
  auto readCommand = [&] {
    std::string got;
    char c;
    while (got.empty() || got.back() != '\r') {
      pollfd p{master, POLLIN, 0};
      if (posix::poll(&p, 1, 10000) != 1) return got;
      if (posix::read(master, &c, 1) == 1) got.push_back(c);
    }
    return got;
  };
  std::thread modem([&] {
    EXPECT_EQ(readCommand(), "ATI4\r");
    EXPECT_EQ(readCommand(), "ATI5\r");
    // The first answer comes only now, ahead of the second command's echo.
    const std::string late = "ATI4\r\r\nLATE\r\n\r\nOK\r\n";
    const std::string own = "ATI5\r\r\nMINE\r\n\r\nOK\r\n";
    EXPECT_EQ(posix::write(master, late.data(), late.size()), static_cast<ssize_t>(late.size()));
    EXPECT_EQ(posix::write(master, own.data(), own.size()), static_cast<ssize_t>(own.size()));
  });
  const auto first = ATCommand::atCommandWithCommandString("ATI4\r", 1);
  first->send();
  const auto second = ATCommand::atCommandWithCommandString("ATI5\r", 5);
  second->send();
  modem.join();
  port->close();
  EXPECT_EQ(first->cleanedResponse(), std::nullopt);
  EXPECT_EQ(second->cleanedResponse(), "MINEOK");
}

}  // namespace
}  // namespace xr

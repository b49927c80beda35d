#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <gtest/gtest.h>
#include <termios.h>

#include "platform/Json.h"
#include "platform/Posix.h"
#include "platform/Process.h"
#include "support/Descriptors.h"
#include "support/TempDirectory.h"
#include "profile/ModemScript.h"

namespace xr {
namespace {
using namespace std::string_literals;

const std::string kModemSim = XR_BINARY_DIR "/bin/modemsim";

const char* kScript = R"({
  "Echo": false,
  "Responses": {"ATI4": "Tarvo", "ATI1": ["a", "b"], "ATI3": []},
  "RawResponses": {"ATI9": {"$data": "0d0a6f6b00"}, "ATI4": {"$data": "41"}},
  "Silent": ["ATI5", "AT"],
  "HangUpAfter": ["ATI1"], "FloodAfter": ["ATI9"],
  "ChunkSize": 3, "ChunkDelayMs": 2, "ReplyDelayMs": 4, "LineSettings": "kernel-default"
})";

TEST(ModemScript, ReadsEveryKey) {
  std::string error;
  auto script = ModemScript::fromValue(parseJson(kScript).value, &error);
  ASSERT_TRUE(script) << error;
  EXPECT_FALSE(script->echo);
  EXPECT_EQ(script->chunkSize, 3u);
  EXPECT_EQ(script->chunkDelayMs, 2);
  EXPECT_EQ(script->replyDelayMs, 4);
  EXPECT_EQ(script->hangUpAfter, std::set<std::string>{"ATI1"});
  EXPECT_EQ(script->floodAfter, std::set<std::string>{"ATI9"});
  EXPECT_EQ(script->lineSettings, PseudoTerminal::LineSettings::kKernelDefault);

  struct Case {
    std::string command;
    std::optional<std::string> reply;
  } cases[] = {
      {"ATI4", "A"},  // raw bytes win over lines, whatever the key order
      {"ATI1", "\r\na\r\nb\r\n\r\nOK\r\n"},
      {"ATI3", "\r\n\r\nOK\r\n"},
      {"ATI9", "\r\nok\0"s},
      {"ATI5", std::nullopt},
      {"AT", std::nullopt},  // silence wins over the built-in answer
      {"ATZ", "\r\nERROR\r\n"},
  };
  for (const Case& c : cases) {
    auto reply = script->replyTo(c.command);
    EXPECT_EQ(reply ? std::optional(reply->asString()) : std::nullopt, c.reply) << c.command;
  }
}

std::string readUntil(int fd, const std::string& tail) {
  return test::readUntil(fd, [&](const std::string& got) { return got.ends_with(tail); });
}

// Asked to, it leaves the line as the kernel makes it (CRs turned into LFs, echo on).
TEST(ModemSimProgram, ServesItsPtyUntilTerminated) {
  test::TempDirectory dir;
  const std::string script = dir.write("modem.json", R"({"Responses": {"ATI4": "Tarvo Internal Modem"}})");
  const auto modemsim = Process::launch(kModemSim, {"--kernel-default-line", script});
  ASSERT_TRUE(modemsim);
  std::string path = readUntil(modemsim->outputDescriptor(), "\n");
  ASSERT_TRUE(path.starts_with("/dev/pts/")) << path;
  path.pop_back();
  FileDescriptor line(posix::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
  ASSERT_TRUE(line.valid());
  struct termios t{};
  ASSERT_EQ(tcgetattr(line.get(), &t), 0);
  EXPECT_TRUE(t.c_iflag & ICRNL);
  EXPECT_TRUE(t.c_lflag & ECHO);
  cfmakeraw(&t);  // as the serial port does
  ASSERT_EQ(tcsetattr(line.get(), TCSANOW, &t), 0);
  const std::string command = "ATI4\r", reply = "ATI4\r\r\nTarvo Internal Modem\r\n\r\nOK\r\n";
  ASSERT_EQ(posix::write(line.get(), command.data(), command.size()), static_cast<ssize_t>(command.size()));
  EXPECT_EQ(readUntil(line.get(), reply), reply);

  modemsim->terminate();
  const Process::Termination end = modemsim->wait();
  EXPECT_TRUE(end.exited);
  EXPECT_EQ(end.status, 0);
}

// Its path printed where nobody reads it, the modem cannot be reached: it says so and ends
// instead of serving until a signal.
TEST(ModemSimProgram, EndsWhenItsPathCannotBePrinted) {
  test::TempDirectory dir;
  const std::string script = dir.write("modem.json", R"({"Responses": {}})");
  int ends[2];
  ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
  ::close(ends[0]);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
  const char* argv[] = {kModemSim.c_str(), script.c_str(), nullptr};
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, const_cast<char**>(argv), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  ::close(ends[1]);
  int status = 0;
  for (int waited = 0; ::waitpid(pid, &status, WNOHANG) == 0; ++waited) {
    if (waited == 1000) {  // 10 s: it serves on
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      FAIL() << "still serving";
    }
    ::usleep(10000);
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
}

}  // namespace
}  // namespace xr

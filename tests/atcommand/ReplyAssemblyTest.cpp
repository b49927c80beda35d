#include <gtest/gtest.h>

#include <optional>

#include "atcommand/ATCommand.h"

namespace xr {
namespace {
using namespace std::string_literals;

Notification chunk(std::string_view bytes) {
  const std::string name = "InputDataAvailableNotification";
  return Notification{name, nullptr, makeDictionary({{name, Value(dataWithString(bytes))}})};
}

struct Reply {
  const char* label;
  std::string command;
  std::string bytes;
  std::optional<std::string> cleaned;  // nullopt: never complete
};

const Reply kReplies[] = {
    {"one line", "ATI4\r", "ATI4\r\r\nTarvo Internal Modem\r\n\r\nOK\r\n", "Tarvo Internal ModemOK"},
    {"bare OK", "AT\r", "AT\r\r\nOK\r\n", "OK"},
    {"text after OK", "AT\r", "AT\r\r\nOK\r\nRING", "OKRING"},
    {"error", "ATI4\r", "ATI4\r\r\nERROR\r\n", "ERROR"},
    {"echo CR starts the final", "AT\r", "AT\r\nOK\r\n", "OK"},
    {"no echo", "ATI4\r", "\r\nmodem\r\n\r\nOK\r\n", "modemOK"},
    {"echo not first", "ATI4\r", "\r\nX\r\nATI4\r\r\nOK\r\n", "XOK"},
    {"NUL bytes", "ATI4\r", "ATI4\r\r\nA\0B\r\n\r\nOK\r\n"s, "A\0BOK"s},
    {"OK inside text", "ATI1\r", "ATI1\r\r\nOKAY\r\n\r\nOK\r\n", "OKAYOK"},
    {"lower case", "AT\r", "at\r\r\nok\r\n", std::nullopt},
    {"no final LF", "AT\r", "AT\r\r\nOK\r", std::nullopt},
    {"blank in final", "AT\r", "AT\r\r\nOK \r\n", std::nullopt},
    {"short error", "AT\r", "AT\r\r\nERR\r\n", std::nullopt},
    {"LF CR", "AT\r", "AT\r\n\rOK\n\r", std::nullopt},
    {"dial: partial echo", "ATDT123\r", "ATD", "ATD"},
    {"dial: answer", "ATDT123\r", "ATDT123\r\r\nBUSY\r\n", "BUSY"},
    {"dial: line breaks", "ATD\r", "\r\n\r\n", std::nullopt},
};

// Feeds the reply in the given pieces; after each one, completeness must agree with a
// command that sees the same bytes whole.
void feed(const Reply& r, const std::vector<std::string_view>& pieces, const std::string& split) {
  ATCommand command(r.command);
  size_t length = 0;
  for (std::string_view piece : pieces) {
    command.inputDataAvail(chunk(piece));
    length += piece.size();
    ATCommand whole(r.command);
    whole.setResponse(r.bytes.substr(0, length));
    ASSERT_EQ(command.responseIsComplete(), whole.responseIsComplete()) << r.label << " split " << split;
  }
  EXPECT_EQ(command.response(), r.bytes) << r.label;
  EXPECT_EQ(command.responseIsComplete(), r.cleaned.has_value()) << r.label << " split " << split;
  EXPECT_EQ(command.cleanedResponse(), r.cleaned) << r.label << " split " << split;
}

TEST(ReplyAssembly, EveryChunkingGivesTheSameReply) {
  for (const Reply& r : kReplies) {
    const size_t n = r.bytes.size();
    std::string_view bytes(r.bytes);
    if (n <= 16) {
      // Every split: bit i set cuts after byte i.
      for (uint32_t cuts = 0; cuts < (1u << (n - 1)); ++cuts) {
        std::vector<std::string_view> pieces;
        size_t start = 0;
        for (size_t i = 0; i + 1 < n; ++i) {
          if (cuts & (1u << i)) {
            pieces.push_back(bytes.substr(start, i + 1 - start));
            start = i + 1;
          }
        }
        pieces.push_back(bytes.substr(start));
        feed(r, pieces, std::to_string(cuts));
      }
    } else {
      // Every cut into three pieces (empty ones included), and one byte at a time.
      for (size_t a = 0; a <= n; ++a) {
        for (size_t b = a; b <= n; ++b) {
          feed(r, {bytes.substr(0, a), bytes.substr(a, b - a), bytes.substr(b)},
               std::to_string(a) + "/" + std::to_string(b));
        }
      }
      std::vector<std::string_view> bytewise;
      for (size_t i = 0; i < n; ++i) bytewise.push_back(bytes.substr(i, 1));
      feed(r, bytewise, "bytewise");
    }
  }
}

// A dial command is answered by anything beyond its whole echo, so a partial echo already
// answers it, while the whole echo alone does not.
TEST(ReplyAssembly, DialCompletenessOnWholeReplies) {
  struct Case {
    std::string response;
    bool complete;
  } cases[] = {
      {"ATDT123\r\r\n", false}, {"ATDT12", true}, {"\r\nATDT123\r", false},
      {"ATDT123\rATDT123\r", true}, {"", false}, {"x", true},
  };
  for (const Case& c : cases) {
    ATCommand command("ATDT123\r");
    command.setResponse(c.response);
    EXPECT_EQ(command.responseIsComplete(), c.complete) << c.response;
  }
}

TEST(ReplyAssembly, CleaningKeepsTheReplyAsReceived) {
  ATCommand command("ATI4\r");
  command.setResponse("\r\nATI4\rATI4\r\r\nOK\r\n");
  EXPECT_EQ(command.cleanUpResponse(), "ATI4OK");  // only the first echo goes
  EXPECT_EQ(command.response(), "\r\nATI4\rATI4\r\r\nOK\r\n");
  EXPECT_EQ(command.cleanedResponse(), std::nullopt);  // set only by a completing chunk
}

TEST(ReplyAssembly, StringEdits) {
  struct Case {
    const char* label;
    void (*edit)(std::string&);
    std::string in, out;
  } cases[] = {
      {"echo: first occurrence", [](std::string& s) { ATCommand::removeEcho("AT\r", s); }, "xAT\rAT\r", "xAT\r"},
      {"echo: case-sensitive", [](std::string& s) { ATCommand::removeEcho("AT\r", s); }, "at\rAT", "at\rAT"},
      {"echo: with its CR only", [](std::string& s) { ATCommand::removeEcho("AT\r", s); }, "AT\nAT", "AT\nAT"},
      {"CRs", ATCommand::removeCRsFromString, "\r\nA\r\rB\n", "\nAB\n"},
      {"LFs", ATCommand::removeNLsFromString, "\r\nA\n\nB\r", "\rAB\r"},
      {"OK: first only", ATCommand::removeOKFromString, "OKAYOK", "AYOK"},
      {"OK: inside a word", ATCommand::removeOKFromString, "BOOKS", "BOS"},
      {"OK: case-sensitive", ATCommand::removeOKFromString, "ok Ok", "ok Ok"},
      {"OK: none", ATCommand::removeOKFromString, "", ""},
  };
  for (const Case& c : cases) {
    std::string s = c.in;
    c.edit(s);
    EXPECT_EQ(s, c.out) << c.label;
  }
}

TEST(RedLightGreenLight, WaitingTakesTheLightBackToRed) {
  RedLightGreenLight light;
  EXPECT_FALSE(light.timedRedLight(RedLightGreenLight::Clock::now()));
  EXPECT_EQ(light.condition(), RedLightGreenLight::kRed);
  light.greenLight();
  EXPECT_EQ(light.condition(), RedLightGreenLight::kGreen);
  EXPECT_TRUE(light.timedRedLight(RedLightGreenLight::Clock::now() + std::chrono::seconds(10)));
  EXPECT_EQ(light.condition(), RedLightGreenLight::kRed);
  light.greenLight();
  light.redLight();
  EXPECT_EQ(light.condition(), RedLightGreenLight::kRed);
}

}  // namespace
}  // namespace xr

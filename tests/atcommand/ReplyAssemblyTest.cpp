#include <gtest/gtest.h>

#include <optional>

#include "atcommand/ATCommand.h"

namespace xr {
namespace {

struct Reply {
  std::string command;
  std::string bytes;
  std::optional<std::string> cleaned;  // nullopt: never complete
};

// (The AT-reply fuzz target's corpus adds a plain answer, an ERROR, NUL bytes, a lower-case
// final result and a dial command's partial echo, each checked against the completion rule.)
const Reply kReplies[] = {
    {"AT\r", "AT\r\r\nOK\r\nRING", "OKRING"},
    {"AT\r", "AT\r\nOK\r\n", "OK"},  // the echo's CR starts the final result
    {"ATI4\r", "\r\nmodem\r\n\r\nOK\r\n", "modemOK"},
    {"ATI4\r", "\r\nX\r\nATI4\rATI4\r\r\nOK\r\n", "XATI4OK"},  // the first echo goes, wherever it is
    {"ATI1\r", "ATI1\r\r\nOKAY\r\n\r\nOK\r\n", "OKAYOK"},
    {"AT\r", "at\r\r\nOK\r\n", "atOK"},  // the echo is matched as sent
    {"AT\r", "AT\r\r\nOK\r", std::nullopt},
    {"AT\r", "AT\r\r\nOK \r\n", std::nullopt},
    {"AT\r", "AT\r\r\nERR\r\n", std::nullopt},
    {"AT\r", "AT\r\n\rOK\n\r", std::nullopt},
    // A dial command is answered by anything beyond its whole echo and line breaks.
    {"ATDT123\r", "ATDT123\r\r\nBUSY\r\n", "BUSY"},
    {"ATDT123\r", "\r\nATDT123\r\r\n", std::nullopt},
    {"ATDT123\r", "ATDT123\rATDT123\r", "ATDT123"},
};

// Feeds the reply in the given pieces; after each one, completeness must agree with a
// command that sees the same bytes whole.
void feed(const Reply& r, const std::vector<std::string_view>& pieces) {
  ATCommand command(r.command);
  size_t length = 0;
  for (std::string_view piece : pieces) {
    command.inputDataAvail(Notification{"InputDataAvailableNotification", nullptr,
                                        makeDictionary({{"InputDataAvailableNotification", dataWithString(piece)}})});
    length += piece.size();
    ATCommand whole(r.command);
    whole.setResponse(r.bytes.substr(0, length));
    ASSERT_EQ(command.responseIsComplete(), whole.responseIsComplete()) << "after " << length << " bytes";
  }
  EXPECT_EQ(command.response(), r.bytes);
  EXPECT_EQ(command.responseIsComplete(), r.cleaned.has_value());
  // Part of a dial command's echo already answers it (and ends its send), so a chunking
  // may leave it an answer that the whole reply does not give.
  if (r.cleaned || !r.command.starts_with("ATD")) {
    EXPECT_EQ(command.cleanedResponse(), r.cleaned);
  }
}

// Every cut into three pieces (empty ones included), and one byte at a time.
TEST(ReplyAssembly, EveryChunkingGivesTheSameReply) {
  for (const Reply& r : kReplies) {
    SCOPED_TRACE(testing::PrintToString(r.bytes));
    const std::string_view bytes(r.bytes);
    for (size_t a = 0; a <= bytes.size(); ++a) {
      for (size_t b = a; b <= bytes.size(); ++b) feed(r, {bytes.substr(0, a), bytes.substr(a, b - a), bytes.substr(b)});
    }
    std::vector<std::string_view> bytewise;
    for (size_t i = 0; i < bytes.size(); ++i) bytewise.push_back(bytes.substr(i, 1));
    feed(r, bytewise);
  }
}

}  // namespace
}  // namespace xr

#include <gtest/gtest.h>

#include <chrono>

#include "serial/DataHandlerLogEntry.h"
#include "serial/TimeMaster.h"

namespace xr {
namespace {

TEST(TimeMaster, DurationsBecomeMilliseconds) {
  struct Case {
    int32_t duration;
    uint32_t ms;
  } cases[] = {
      {0, 0},          {1234, 1234},       {-2500, 2},          {-999, 0},
      {-1000, 1},      {-1999, 1},         {2147483647, 2147483647u},
      {-2147483647 - 1, 2147483u},
  };
  for (const Case& c : cases) EXPECT_EQ(TimeMaster::millisecondsFromDuration(c.duration), c.ms) << c.duration;
}

TEST(DataHandlerLogEntry, TextForms) {
  using namespace std::chrono;
  // 2024-05-01 10:20:30 UTC
  const DataHandlerLogEntry::Date date{seconds(1714558830)};
  const DataHandlerLogEntry entry(0.007f, date, dataWithString(std::string("AT\r\n\0x", 6)));
  EXPECT_EQ(entry.hexDescriptionWithUpTime(), "0.007 : <41540d0a 0078>");
  EXPECT_EQ(entry.stringDescriptionWithUpTime(), std::string("0.007 : AT\r\n\0x", 14));
  EXPECT_EQ(entry.hexDescriptionWithDate(), "2024-05-01 10:20:30 +0000 : <41540d0a 0078>");
  EXPECT_EQ(entry.stringDescriptionWithDate(), std::string("2024-05-01 10:20:30 +0000 : AT\r\n\0x", 34));
}

}  // namespace
}  // namespace xr

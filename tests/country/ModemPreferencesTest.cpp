#include <gtest/gtest.h>

#include <cerrno>
#include <optional>

#include "country/ModemPreferences.h"
#include "platform/Posix.h"
#include "tests/country/CountryTestSupport.h"

namespace xr {
namespace {

std::string record(uint8_t first, uint8_t fill) {
  std::string r(kModemPreferencesRecordSize, static_cast<char>(fill));
  r[0] = static_cast<char>(first);
  return r;
}
std::string littleEndian(uint32_t v) {
  return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
}
const std::string kUS = record(0xB5, 0x00);  // signed sum -75

struct PrefsCase {
  const char* name;
  std::optional<std::string> file;  // nullopt: no file at all
  std::optional<uint8_t> code;      // nullopt: not valid
};
void PrintTo(const PrefsCase& c, std::ostream* os) { *os << c.name; }

// Counts descriptors so every path can be shown to give its file back; reads can be made to fail.
int gOpened = 0, gClosed = 0;
bool gFailReads = false;
PosixCalls gReal;
void countDescriptors() {
  gReal = posixCalls();
  gOpened = gClosed = 0;
  gFailReads = false;
  posixCalls().open = [](const char* path, int flags, mode_t mode) {
    int fd = gReal.open(path, flags, mode);
    gOpened += fd >= 0;
    return fd;
  };
  posixCalls().close = [](int fd) { return ++gClosed, gReal.close(fd); };
  posixCalls().read = [](int fd, void* buf, size_t n) -> ssize_t {
    if (!gFailReads) return gReal.read(fd, buf, n);
    errno = EIO;
    return -1;
  };
}

class ModemPreferencesTest : public testing::TestWithParam<PrefsCase> {};
TEST_P(ModemPreferencesTest, ReadsOnlyAValidRecord) {
  TemporaryRoot root;
  ScopedPlatformRoot scoped(root.path());
  if (GetParam().file) root.write(kModemPreferencesPath, *GetParam().file);
  ScopedPosixCalls restore;
  countDescriptors();

  uint8_t code = 0x77;  // must survive a failed read
  EXPECT_EQ(GetTorvinCountryCodeFromPrefs(&code), GetParam().code.has_value());
  EXPECT_EQ(code, GetParam().code.value_or(0x77));
  gFailReads = true;
  uint8_t buffer[kModemPreferencesRecordSize];
  EXPECT_FALSE(ReadPreferences(buffer));
  EXPECT_EQ(gOpened, GetParam().file ? 2 : 0);
  EXPECT_EQ(gClosed, gOpened);
}
INSTANTIATE_TEST_SUITE_P(
    Files, ModemPreferencesTest,
    testing::Values(PrefsCase{"Missing", std::nullopt, std::nullopt}, PrefsCase{"Empty", "", std::nullopt},
                    PrefsCase{"ShortByOne", kUS + littleEndian(0xFFFFFFB5).substr(0, 3), std::nullopt},
                    // 0xB5 counts as -75; an unsigned sum would store 0x000000B5.
                    PrefsCase{"HighByteIsNegative", kUS + littleEndian(0xFFFFFFB5), 0xB5},
                    PrefsCase{"UnsignedSum", kUS + littleEndian(0xB5), std::nullopt},
                    PrefsCase{"AllFF", record(0xFF, 0xFF) + littleEndian(0xFFFFFFE7), 0xFF},
                    PrefsCase{"ChecksumOneOff", kUS + littleEndian(0xFFFFFFB6), std::nullopt},
                    PrefsCase{"ChecksumBigEndian", kUS + "\xFF\xFF\xFF\xB5", std::nullopt},
                    PrefsCase{"TrailingBytesIgnored", kUS + littleEndian(0xFFFFFFB5) + "garbage", 0xB5}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace xr

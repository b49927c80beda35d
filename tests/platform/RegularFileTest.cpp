#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/Json.h"
#include "platform/PlatformRoot.h"
#include "platform/RegularFile.h"
#include "support/Descriptors.h"
#include "support/TempDirectory.h"

namespace xr {
namespace {
namespace fs = std::filesystem;
using Fault = RegularFileRead::Fault;

// What sits at a path decides whether it is read: only a regular file within the bound. None
// of these blocks (a FIFO without a writer would, opened the ordinary way).
TEST(RegularFileTest, OnlyRegularFilesWithinTheBoundAreRead) {
  test::TempDirectory dir;
  dir.write("small", "0123456789");
  dir.write("big", std::string(11, 'x'));
  ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
  fs::create_symlink("/dev/zero", dir.file("device"));
  dir.makeDirectory("directory");
  fs::create_symlink(dir.file("small"), dir.file("link"));
  // A regular file whose every read fails (EIO: nothing is mapped at offset 0).
  fs::create_symlink("/proc/self/mem", dir.file("unreadable"));
  struct Case {
    const char* name;
    Fault fault;
    std::string contents;
  } cases[] = {
      {"small", Fault::None, "0123456789"}, {"link", Fault::None, "0123456789"}, {"big", Fault::TooLarge, ""},
      {"fifo", Fault::NotRegular, ""},      {"device", Fault::NotRegular, ""},   {"directory", Fault::NotRegular, ""},
      {"missing", Fault::Missing, ""},      {"unreadable", Fault::Unreadable, ""},
  };
  const auto descriptors = test::openDescriptors();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const RegularFileRead read = readRegularFile(dir.file(c.name), 10);
    EXPECT_EQ(read.fault, c.fault);
    EXPECT_EQ(read.contents, c.contents);
  }
  EXPECT_EQ(test::openDescriptors(), descriptors);
  // A JSON file names itself in its errors, whether it could not be read or not parsed.
  EXPECT_EQ(readJsonFile(dir.file("fifo")).error, dir.file("fifo") + ": not a regular file");
  EXPECT_EQ(readJsonFile(dir.write("bad.json", "{\"a\": [1,}")).error.rfind(dir.file("bad.json") + ": ", 0), 0u);
}

// Under a platform root, links resolve inside it: an absolute link means the root's "/", and
// ".." stops at the root. A file outside with the same name is never what is read.
TEST(RegularFileTest, LinksUnderThePlatformRootStayInside) {
  test::TempDirectory dir;
  dir.write("outside/etc/secret", "outside");
  dir.write("root/etc/secret", "inside");
  const std::string root = dir.makeDirectory("root");
  dir.makeDirectory("root/var/db");
  fs::create_symlink("/etc/secret", dir.file("root/var/db/absolute"));
  fs::create_symlink("../../../../outside/etc/secret", dir.file("root/var/db/dotdot"));
  fs::create_symlink(dir.file("outside/etc/secret"), dir.file("root/var/db/full"));
  ScopedPlatformRoot scoped(root);
  struct Case {
    const char* path;
    Fault fault;
    std::string contents;
  } cases[] = {
      {"/var/db/absolute", Fault::None, "inside"},
      {"/var/db/dotdot", Fault::Missing, ""},  // root/outside/etc/secret
      {"/var/db/full", Fault::Missing, ""},    // the test directory's path again, inside the root
      {"/../outside/etc/secret", Fault::Missing, ""},
      {"/etc/secret", Fault::None, "inside"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const RegularFileRead read = readRegularFileUnderPlatformRoot(c.path, 100);
    EXPECT_EQ(read.fault, c.fault);
    EXPECT_EQ(read.contents, c.contents);
  }
}

}  // namespace
}  // namespace xr

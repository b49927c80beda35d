#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <optional>

#include "platform/Json.h"
#include "platform/PlatformRoot.h"
#include "platform/Posix.h"
#include "platform/RegularFile.h"
#include "support/Descriptors.h"
#include "support/TempDirectory.h"

namespace xr {
namespace {
namespace fs = std::filesystem;
using Fault = RegularFileRead::Fault;

// What sits at a path decides whether it is read: only a regular file within the bound, by
// either reader. What is not one is not even opened (opening a serial device raises its DTR):
// the FIFO sees no open. None of these blocks (a FIFO without a writer would, opened the
// ordinary way).
TEST(RegularFileTest, OnlyRegularFilesWithinTheBoundAreRead) {
  test::TempDirectory dir;
  dir.write("small", "0123456789");
  dir.write("big", std::string(11, 'x'));
  ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
  if (::mknod(dir.file("device").c_str(), S_IFCHR | 0600, makedev(1, 5)) != 0) GTEST_SKIP() << "mknod needs root";
  dir.makeDirectory("directory");
  fs::create_symlink("small", dir.file("link"));
  // A regular file whose every read fails (EIO: nothing is mapped at offset 0); under the
  // platform root the link leads inside it, to nothing.
  fs::create_symlink("/proc/self/mem", dir.file("unreadable"));
  struct Case {
    const char* name;
    Fault fault;
    std::string contents;
    Fault underRoot = fault;
  } cases[] = {
      {"small", Fault::None, "0123456789"}, {"link", Fault::None, "0123456789"}, {"big", Fault::TooLarge, ""},
      {"fifo", Fault::NotRegular, ""},      {"device", Fault::NotRegular, ""},   {"directory", Fault::NotRegular, ""},
      {"missing", Fault::Missing, ""},      {"unreadable", Fault::Unreadable, "", Fault::Missing},
  };
  const FileDescriptor opens(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  ASSERT_GE(::inotify_add_watch(opens.get(), dir.file("fifo").c_str(), IN_OPEN), 0);
  const auto descriptors = test::openDescriptors();
  for (const bool underRoot : {false, true}) {
    std::optional<ScopedPlatformRoot> root;
    if (underRoot) root.emplace(dir.path());
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (underRoot ? " under the platform root" : ""));
      const RegularFileRead read = underRoot ? readRegularFileUnderPlatformRoot(std::string("/") + c.name, 10)
                                             : readRegularFile(dir.file(c.name), 10);
      EXPECT_EQ(read.fault, underRoot ? c.underRoot : c.fault);
      EXPECT_EQ(read.contents, c.contents);
    }
  }
  EXPECT_EQ(test::openDescriptors(), descriptors);
  char event[sizeof(inotify_event) + NAME_MAX + 1];
  EXPECT_EQ(::read(opens.get(), event, sizeof event), -1) << "the FIFO was opened";
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

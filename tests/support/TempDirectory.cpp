#include "support/TempDirectory.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace xr::test {
namespace fs = std::filesystem;

TempDirectory::TempDirectory() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/xrtest.XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed for " << pattern;
  path_ = pattern;
}

TempDirectory::~TempDirectory() {
  std::error_code ec;
  // Tests may have taken permissions away; give them back so removal works.
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (!it->is_symlink()) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(path_, ec);
}

std::string TempDirectory::file(const std::string& relative) const { return path_ + "/" + relative; }

std::string TempDirectory::write(const std::string& relative, const std::string& contents) const {
  std::string path = file(relative);
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << contents;
  if (!out) ADD_FAILURE() << "cannot write " << path;
  return path;
}

std::string TempDirectory::makeDirectory(const std::string& relative) const {
  std::string path = file(relative);
  fs::create_directories(path);
  return path;
}

std::string TempDirectory::copy(const std::string& from, const std::string& relative) const {
  std::string path = file(relative);
  fs::remove_all(path);
  fs::create_directories(fs::path(path).parent_path());
  fs::copy(from, path, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  return path;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace xr::test

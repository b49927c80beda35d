#pragma once

#include <string>

namespace xr::test {

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it when the object
// goes.
class TempDirectory {
 public:
  TempDirectory();
  ~TempDirectory();
  TempDirectory(const TempDirectory&) = delete;
  TempDirectory& operator=(const TempDirectory&) = delete;

  const std::string& path() const { return path_; }
  // path()/relative
  std::string file(const std::string& relative) const;
  // Writes contents to path()/relative, making the directories above it.
  std::string write(const std::string& relative, const std::string& contents) const;
  // Makes path()/relative and the directories above it.
  std::string makeDirectory(const std::string& relative) const;
  // Copies the file or tree at from (links as links) to path()/relative, in place of what was
  // there.
  std::string copy(const std::string& from, const std::string& relative) const;

 private:
  std::string path_;
};

// The whole contents of a file; "" when it cannot be read.
std::string readFile(const std::string& path);

}  // namespace xr::test

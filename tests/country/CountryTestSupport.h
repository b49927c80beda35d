#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/PlatformRoot.h"

namespace xr {

// A fresh directory for one test, used as the platform root; removed with everything in it.
class TemporaryRoot {
 public:
  TemporaryRoot() {
    std::string pattern = (std::filesystem::temp_directory_path() / "xrcountry.XXXXXX").string();
    path_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
  }
  ~TemporaryRoot() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TemporaryRoot(const TemporaryRoot&) = delete;
  TemporaryRoot& operator=(const TemporaryRoot&) = delete;

  const std::string& path() const { return path_; }

  // Writes bytes to the file at relativePath (beginning with '/'), creating its directories.
  void write(const std::string& relativePath, const std::string& bytes) const {
    std::filesystem::path file = path_ + relativePath;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
  }

 private:
  std::string path_;
};

}  // namespace xr

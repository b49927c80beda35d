#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Value.h"

namespace xr {

// A bundle directory. The plug-in bundle holds its shared library, its resources (files named
// NAME.TYPE) and its default string table (Localizable.json, key to display text). A driver
// bundle holds its information dictionary in Contents/Info.json.
class Bundle {
 public:
  explicit Bundle(std::string path);
  // A bundle at an absolute path under the platform root, its files resolved inside the root.
  static Bundle underPlatformRoot(std::string_view absolutePath);

  // The bundle whose shared object contains the address: the directory of that object.
  static std::shared_ptr<Bundle> containingAddress(const void* address);

  // The directory (under the platform root, for a bundle made by underPlatformRoot).
  const std::string& path() const { return path_; }

  // path/NAME.TYPE when such a file exists.
  std::optional<std::string> pathForResource(const std::string& name, const std::string& type) const;

  // The default string table's text for key. A key without an entry yields value, or the key
  // itself when value is empty; no key yields value. A missing or malformed table has no
  // entries.
  std::string localizedString(const std::optional<std::string>& key, const std::string& value = "") const;

  // Contents/Info.json as a dictionary; nullptr when missing, malformed or not a regular file.
  DictionaryRef infoDictionary() const;

 private:
  struct Rooted {};
  Bundle(Rooted, std::string_view absolutePath);
  DictionaryRef readDictionary(const std::string& relative) const;

  std::string path_;
  std::string rootedPath_;  // the absolute path under the platform root; empty for a plain one
  mutable std::once_flag tableOnce_;
  mutable DictionaryRef table_;
};

}  // namespace xr

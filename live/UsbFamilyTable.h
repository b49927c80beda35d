#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace xr {

// The USB devices that belong to the USB modem family, by vendor and product. The table is a
// JSON file that ships with the host:
//   {"devices": [{"idVendor": 1452, "idProduct": 21}, ...]}
// Any other top-level key (a "comment") is ignored. A missing file is an empty table.
class UsbFamilyTable {
 public:
  UsbFamilyTable() = default;
  explicit UsbFamilyTable(std::vector<std::pair<uint16_t, uint16_t>> devices) : devices_(std::move(devices)) {}

  // nullopt and a one-line message when the file exists but is not a table.
  static std::optional<UsbFamilyTable> read(const std::string& path, std::string* error);

  bool contains(uint16_t vendor, uint16_t product) const;
  size_t size() const { return devices_.size(); }

 private:
  std::vector<std::pair<uint16_t, uint16_t>> devices_;
};

}  // namespace xr

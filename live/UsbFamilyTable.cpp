#include "live/UsbFamilyTable.h"

#include <sys/stat.h>

#include <algorithm>

#include "platform/Json.h"

namespace xr {

std::optional<UsbFamilyTable> UsbFamilyTable::read(const std::string& path, std::string* error) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return UsbFamilyTable();
  auto fail = [&](const std::string& message) -> std::optional<UsbFamilyTable> {
    if (error) *error = path + ": " + message;
    return std::nullopt;
  };
  JsonResult json = readJsonFile(path, JsonLimits{8, 1024 * 1024});
  if (!json.ok()) {
    if (error) *error = json.error;
    return std::nullopt;
  }
  DictionaryRef top = json.value.dictionary();
  if (!top) return fail("expected a JSON object with \"devices\"");
  std::vector<std::pair<uint16_t, uint16_t>> devices;
  if (const Value* list = top->find("devices")) {
    ArrayRef array = list->array();
    if (!array) return fail("\"devices\" must be an array");
    for (size_t i = 0; i < array->size(); ++i) {
      DictionaryRef device = (*array)[i].dictionary();
      auto id = [&](const char* key) -> std::optional<uint16_t> {
        std::optional<int64_t> v = device ? device->get(key).integer() : std::nullopt;
        if (!v || *v < 0 || *v > 0xffff) return std::nullopt;
        return static_cast<uint16_t>(*v);
      };
      std::optional<uint16_t> vendor = id("idVendor"), product = id("idProduct");
      if (!vendor || !product)
        return fail("devices[" + std::to_string(i) + "] needs \"idVendor\" and \"idProduct\", integers 0 to 65535");
      devices.emplace_back(*vendor, *product);
    }
  }
  return UsbFamilyTable(std::move(devices));
}

bool UsbFamilyTable::contains(uint16_t vendor, uint16_t product) const {
  return std::find(devices_.begin(), devices_.end(), std::pair(vendor, product)) != devices_.end();
}

}  // namespace xr

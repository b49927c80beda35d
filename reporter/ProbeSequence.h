#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace xr {

// A Quell modem's firmware text carries its SKU number between the first "-" and the next ","
// ("... 0007-2,..."): that number cut to a signed byte. nullopt when the text has no "-", nothing
// before it, or nothing after it up to the ",".
std::optional<int8_t> skuIDFromFirmwareVersion(std::string_view firmware);

}  // namespace xr

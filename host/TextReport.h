#pragma once

#include <string>
#include <string_view>

#include "platform/Bundle.h"
#include "platform/Value.h"

namespace xr {

// The readable form of one plug-in's report dictionary: the title, then each item of "_items"
// under its "_name", keys and names shown through the plug-in's string table, nested values
// indented below their key. Dictionaries keep their order.
std::string textReport(const std::string& title, const DictionaryRef& report, const Bundle& strings);

// Text that came from outside, made safe for a terminal: control characters (C0, DEL, C1) and
// bytes that are not UTF-8 are shown as \xNN.
std::string displayable(std::string_view text);

}  // namespace xr

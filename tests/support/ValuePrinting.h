#pragma once

#include <ostream>

#include "platform/Value.h"

namespace xr {

// Values in test messages as one line of JSON, not as bytes.
void PrintTo(const Value& value, std::ostream* os);
void PrintTo(const Dictionary& dictionary, std::ostream* os);

}  // namespace xr

#include "support/ValuePrinting.h"

#include "platform/Json.h"

namespace xr {

void PrintTo(const Value& value, std::ostream* os) { *os << toJson(value, -1); }
void PrintTo(const Dictionary& dictionary, std::ostream* os) {
  *os << toJson(std::make_shared<Dictionary>(dictionary), -1);
}

}  // namespace xr

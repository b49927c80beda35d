#include "host/XRReporter.h"

namespace xr {

DictionaryRef XRReporter::updateDictionary(const DictionaryRef& dictionary) {
  if (dictionary && dictionary->get("_items").array()) return dictionary;
  auto report = dictionary ? mutableCopy(dictionary) : makeDictionary();
  report->set("_items", makeArray());
  return report;
}

}  // namespace xr

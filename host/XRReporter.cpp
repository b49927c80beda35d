#include "host/XRReporter.h"

namespace xr {

DictionaryRef XRReporter::updateDictionary(const DictionaryRef& dictionary) {
  if (dictionary && dictionary->get("_items").array()) return dictionary;
  auto report = dictionary ? mutableCopy(dictionary) : makeDictionary();
  report->set("_items", makeArray());
  return report;
}

void XRReporter::appendItem(const DictionaryRef& report, const DictionaryRef& item) {
  if (auto items = report->get("_items").array()) {
    const Value entry(item);  // a copy, not a move: g++ 12 misreads moving the variant
    items->push_back(entry);
  }
}

}  // namespace xr

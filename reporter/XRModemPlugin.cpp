#include "reporter/XRModemPlugin.h"

#include <cstdio>

#include "platform/Json.h"

namespace xr {
namespace {
// Anchor for finding the bundle that holds this code.
void bundleAnchor() {}

// The country list is a shipped resource, but it is read like any outside file.
const JsonLimits kCountryListLimits{16, 8u * 1024 * 1024};
}  // namespace

std::shared_ptr<XRModemPlugin> XRModemPlugin::create(std::shared_ptr<const Bundle> bundle) {
  if (!bundle) bundle = Bundle::containingAddress(reinterpret_cast<const void*>(&bundleAnchor));
  return std::make_shared<XRModemPlugin>(std::move(bundle));
}

XRModemPlugin::XRModemPlugin(std::shared_ptr<const Bundle> bundle)
    : _modemInfoDictionary(makeDictionary()),
      _emModemInfoDictionary(makeDictionary()),
      _emModemLocationArray(makeArray()),
      _bundle(std::move(bundle)) {}

XRModemPlugin::~XRModemPlugin() {
  setModemInfoDictionary(nullptr);
  setCountryCodeArray(nullptr);
  _taskOutput.clear();
  _appNamesAlreadyUsingModems.clear();
  setSM56KUSBModemInfoDictionary(nullptr);
  setSM56KUSBModemLocationArray(nullptr);
  CleanUp();
}

void XRModemPlugin::setModemInfoDictionary(DictionaryRef d) { _modemInfoDictionary = std::move(d); }
// The list is parsed on first use, not when the plug-in is made: parsing it is a sizeable
// share of a report's start-up, and only a modem whose country is named needs it.
ArrayRef XRModemPlugin::countryCodeArray() const {
  if (!_countryCodeArrayRead) {
    _countryCodeArrayRead = true;
    if (auto path = _bundle ? _bundle->pathForResource("ModemCountryCode", "dict") : std::nullopt) {
      auto result = readJsonFile(*path, kCountryListLimits);
      if (auto root = result.value.dictionary()) _countryCodeArray = root->get("Countries").array();
    }
  }
  return _countryCodeArray;
}

void XRModemPlugin::setCountryCodeArray(ArrayRef a) {
  _countryCodeArray = std::move(a);
  _countryCodeArrayRead = true;
}
void XRModemPlugin::setSM56KUSBModemInfoDictionary(DictionaryRef d) { _emModemInfoDictionary = std::move(d); }
void XRModemPlugin::setSM56KUSBModemLocationArray(ArrayRef a) { _emModemLocationArray = std::move(a); }

void XRModemPlugin::setObject(const Value& value, const std::string& key) {
  if (value.isNull() || !_modemInfoDictionary) return;
  _modemInfoDictionary->set(key, value);
}

const std::vector<std::string>& XRModemPlugin::requiredItems() {
  static const std::vector<std::string> items = {
      "Device",        "SKU",         "Hardware Version",    "xrmodem_fwvers", "xrmodem_interfacetype",
      "Driver Name",   "Driver Version", "xrmodem_countrycode", "Country Name", "Modulation Supported"};
  return items;
}

std::string XRModemPlugin::locString(const std::optional<std::string>& key) const {
  if (!_bundle) return key.value_or("");
  return _bundle->localizedString(key, "");
}

std::string XRModemPlugin::interfaceTypeNameFromInterfaceType(int8_t code) const {
  switch (code) {
    case 1: return locString("Serial");
    case 2: return locString("USB");
    case 3: return locString("I2S");
    case 4: return locString("Direct Audio");
    default: return "";
  }
}

std::string XRModemPlugin::hexText(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%X", value);
  return text;
}

}  // namespace xr

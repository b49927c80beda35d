// XRModemPlugin's country operations: the global preference and the country list lookups.
#include <array>
#include <string>

#include "country/ISOCountryCodes.h"
#include "platform/Preferences.h"
#include "platform/Scanner.h"
#include "platform/Trace.h"
#include "reporter/XRModemPlugin.h"

namespace xr {
namespace {
constexpr const char* kLastCountryCodeKey = "com.tarvo.TarvoModemSettingTool.LastCountryCode";
// The settings tool writes at most 18 characters; anything longer is not one of its values.
constexpr size_t kMaxPreferenceLength = 18;

constexpr const char* kFirmwareMarker = "TARVO VERSION";
// The version digits follow the marker and one separator, counted from the start of the text.
constexpr size_t kVersionOffset = std::char_traits<char>::length(kFirmwareMarker) + 1;
constexpr size_t kVersionLength = 4;

bool isPellanFamily(const std::string& device) {
  return device == "Pellan" || device == "MiniPellan" || device == "MiniPellan-DCP";
}

// A "CountryCode" compared by its integer value: a number, or text read as a decimal integer.
std::optional<int64_t> countryCodeValue(const Value& value) {
  if (auto i = value.integer()) return *i;
  if (auto r = value.real()) {
    if (*r >= 0 && *r < 256) return static_cast<int64_t>(*r);
    return std::nullopt;
  }
  if (const std::string* s = value.string()) return decimalIntegerValue(*s);
  return std::nullopt;
}
}  // namespace

uint8_t XRModemPlugin::readModemCountryCodeFromGlobalPreferencesFile() {
  Preferences::synchronize();
  Value value = Preferences::copyValue(kLastCountryCodeKey);
  const std::string* text = value.string();
  if (!text || text->size() > kMaxPreferenceLength) return 0;
  std::array<char, kMaxPreferenceLength + 1> buffer{};
  for (size_t i = 0; i < text->size(); ++i) {
    if (static_cast<unsigned char>((*text)[i]) > 0x7F) return 0;
    buffer[i] = (*text)[i];
  }
  return static_cast<uint8_t>(FoundISOCountryCodes(kISOCountryCodeCount, buffer.data()));
}

std::optional<std::string> XRModemPlugin::modemCountryCodeListForCurrentModem() const {
  if (_isTorvinFamily || _isI2SFamily) return "Torvin";
  if (!_modemInfoDictionary) return std::nullopt;
  std::optional<std::string> device = _modemInfoDictionary->get("Device").stringValue();
  std::optional<std::string> firmware = _modemInfoDictionary->get("xrmodem_fwvers").stringValue();
  if (!firmware || firmware->find(kFirmwareMarker) == std::string::npos) return std::nullopt;
  // Too short to hold the four version characters: no list rather than a guess.
  if (firmware->size() < kVersionOffset + kVersionLength) return std::nullopt;
  int32_t version = decimalIntegerValue(std::string_view(*firmware).substr(kVersionOffset, kVersionLength));
  if (version < 1) return std::nullopt;
  if (device && isPellanFamily(*device)) return version < 5 ? "OldPellan" : "NewQuellOrPellan";
  if (device && *device == "Quell") return version < 7 ? "OldQuell" : "NewQuellOrPellan";
  return "OldQuell";
}

std::optional<std::string> XRModemPlugin::countryNamesForCountryCode(uint8_t code) const {
  std::optional<std::string> list = modemCountryCodeListForCurrentModem();
  if (!list) traceNote("no country list fits this modem (its device or firmware version is unknown)");
  const ArrayRef countries = list ? countryCodeArray() : nullptr;
  if (!countries) return std::nullopt;
  traceNote("country list ", *list, " for code ", std::to_string(code));
  for (const Value& entryValue : *countries) {
    DictionaryRef entry = entryValue.dictionary();
    if (!entry) continue;
    const Value* listValue = entry->find(*list);
    DictionaryRef codes = listValue ? listValue->dictionary() : nullptr;
    if (!codes) continue;
    std::optional<int64_t> entryCode = countryCodeValue(codes->get("CountryCode"));
    if (!entryCode || *entryCode != code) continue;
    // A nameless entry cannot be shown; a later entry with the same code still can.
    const Value* name = entry->find("Name");
    if (!name || !name->string()) continue;
    std::string names = *name->string();
    if (ArrayRef sameAs = codes->get("SameAs").array()) {
      for (const Value& other : *sameAs)
        if (const std::string* s = other.string()) names += ", " + *s;
    }
    return names;
  }
  traceNote("no country named for code ", std::to_string(code), " in list ", *list);
  return std::nullopt;
}

}  // namespace xr

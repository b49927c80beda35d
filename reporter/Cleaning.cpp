// The cleaning step: the record's working keys become the report keys the host shows.
#include <array>
#include <string_view>

#include "reporter/XRModemPlugin.h"

namespace xr {
namespace {
constexpr std::string_view kRS574SerialDriver = "com.tarvo.driver.TarvoRS574Serial";

// Removes key from the record; its text when it held one. Every writer of the record stores
// strings, so anything else counts as absent.
std::optional<std::string> take(Dictionary& record, std::string_view key) {
  auto text = record.get(key).stringValue();
  record.remove(key);
  return text;
}

// Moves an entry to the end of the record under its report key: the host shows the item in
// the order the keys were written.
void rename(Dictionary& record, std::string_view from, const std::string& to) {
  if (!record.contains(from)) return;
  auto text = take(record, from);
  if (text) record.set(to, *text);
}

std::optional<std::string> recordText(const DictionaryRef& record, std::string_view key) {
  return record ? record->get(key).stringValue() : std::nullopt;
}
}  // namespace

DictionaryRef XRModemPlugin::cleanedModemInfoDictionary() {
  if (!_modemInfoDictionary) return nullptr;
  Dictionary& record = *_modemInfoDictionary;

  const auto driverName = record.get("xrmodem_drivername").stringValue();
  const bool rs574 = driverName == kRS574SerialDriver;

  // Without a driver there is no internal modem worth a partial report.
  if (!driverName || *driverName == "Unknown") {
    record.clear();
  } else {
    record.remove("xrmodem_drivername");
    std::string text = *driverName;
    if (auto version = take(record, "Driver Version")) text += " (v" + *version + ")";
    record.set("xrmodem_driverinfo", text);

    text = take(record, "Modulation Supported").value_or("");
    if (rs574) {
      record.set("xrmodem_interfacetype", text);
    } else {
      record.set("xrmodem_modulation", text);
      record.set("xrmodem_model", take(record, "Device").value_or(""));
    }

    rename(record, "SKU", "xrmodem_skuname");
    rename(record, "Hardware Version", "xrmodem_hwversion");
    rename(record, "xrmodem_interfacetype", "xrmodem_interfacetype");
    rename(record, "xrmodem_fwvers", "xrmodem_fwvers");

    if (!rs574) {
      text = take(record, "xrmodem_countrycode").value_or("");
      if (auto name = take(record, "Country Name")) text += text.empty() ? *name : " (" + *name + ")";
      record.set("xrmodem_countryinfo", text);
    }
  }

  queryUSBExternalModems();
  return _modemInfoDictionary;
}

std::string XRModemPlugin::highestModulationSupported() const {
  static constexpr std::array<std::string_view, 4> kV92Devices = {"Torvin2", "MicroTorvin", "LastTorvin", "Brisa"};
  if (recordText(_modemInfoDictionary, "xrmodem_drivername") == kRS574SerialDriver) return "Serial";
  const auto device = recordText(_modemInfoDictionary, "Device");
  for (auto name : kV92Devices)
    if (device == name) return "V.92";
  return "V.90";
}

}  // namespace xr

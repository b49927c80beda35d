// The probe sequence: what kind of internal modem this is, which driver bundle goes with it,
// and one step per required item that the record still lacks.
#include <chrono>
#include <thread>

#include "country/ModemPreferences.h"
#include "platform/PlatformRoot.h"
#include "platform/Trace.h"
#include "platform/Scanner.h"
#include "reporter/ProbeSequence.h"
#include "reporter/XRModemPlugin.h"
#include "serial/TTYPort.h"

namespace xr {
namespace {

struct DriverBundle {
  const char* path;
  const char* identifier;
};

constexpr DriverBundle kInternalUSBModemBundle{
    "/System/Library/Extensions/HwSerialFamily.drvx/Contents/PlugIns/InternalUSBModem.drvx/",
    "com.tarvo.driver.InternalUSBModem"};
constexpr DriverBundle kSCCSerialBundle{
    "/System/Library/Extensions/HwSerialFamily.drvx/Contents/PlugIns/TarvoSCCSerial.drvx/",
    "com.tarvo.driver.TarvoSCCSerial"};
constexpr DriverBundle kSM56KBundle{"/System/Library/Extensions/HwSerialFamily.drvx/Contents/PlugIns/MotorolaSM56K.drvx/",
                                    "com.tarvo.driver.MotorolaSM56K"};

std::optional<std::string> bundleVersionAtPath(const char* path) {
  auto info = Bundle::underPlatformRoot(path).infoDictionary();
  return info ? info->get("PkBundleShortVersionString").stringValue() : std::nullopt;
}

std::string lastPathComponent(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  auto slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

}  // namespace

// One run of the sequence: the driver bundle is fixed before the item steps and kept for the
// whole run. A friend of the plug-in: it sets the modem's family.
class ProbeRun {
 public:
  explicit ProbeRun(XRModemPlugin& plugin) : p_(plugin) {}

  void identifyModem() {
    const DriverBundle* bundle = &kSCCSerialBundle;
    if (p_.queryI2CROMContents()) {
      const uint8_t deviceID = p_._i2cROMContents.deviceID;
      if (deviceID >= 11 && deviceID <= 13) {
        bundle = &kInternalUSBModemBundle;
        p_._isTorvinFamily = true;
      }
    } else if (p_.queryI2SModem()) {
      p_._isI2SFamily = true;
      bundle = &kSM56KBundle;
    }
    bundle_ = bundle;
    bundleVersion_ = bundleVersionAtPath(bundle->path);
    traceNote("driver bundle ", bundle->identifier, " at ", bundle->path,
              bundleVersion_ ? " version " + *bundleVersion_ : std::string(" (no version on disk)"));
  }

  void runStep(const std::string& item) {
    if (item == "Device") deviceStep();
    else if (item == "xrmodem_fwvers") firmwareStep();
    else if (item == "Driver Name") driverNameStep();
    else if (item == "Driver Version") driverVersionStep();
    else if (item == "xrmodem_countrycode") countryCodeStep();
    else if (item == "Country Name") countryNameStep();
    else if (item == "Modulation Supported") p_.setObject(p_.highestModulationSupported(), "Modulation Supported");
    // "SKU", "Hardware Version" and "xrmodem_interfacetype" only come from the hardware probes.
  }

 private:
  std::optional<std::string> recordText(std::string_view key) const {
    return p_.modemInfoDictionary()->get(key).stringValue();
  }

  void deviceStep() {
    if (!p_.openInternalModemPort()) return;
    auto identity = p_.sendAnUnknownResponseATCommand("ATI4\r");
    if (!identity) return;
    if (*identity == "Tarvo Internal Modem") {
      auto variant = p_.sendAnUnknownResponseATCommand("ATI12\r");
      if (!variant) return;
      p_.setObject(*variant == "S1" ? "Pellan" : "Quell", "Device");
    } else if (identity->find("Tarvo") != std::string::npos) {
      p_.setObject("Zarko", "Device");
    } else {
      p_.setObject("3rd Party Modem", "Device");
    }
  }

  void firmwareStep() {
    if (p_._isTorvinFamily) {
      // Without a bundle version there is nothing worth showing as firmware.
      if (bundleVersion_) p_.setObject("TARVO VERSION " + *bundleVersion_, "xrmodem_fwvers");
      return;
    }
    if (p_._isI2SFamily) return;
    if (!p_.openInternalModemPort()) return;
    // The modem needs a moment after the identity queries before it answers this one.
    std::this_thread::sleep_for(p_.dialogueTiming().firmwarePause);
    auto firmware = p_.sendAnUnknownResponseATCommand("ATI1\r");
    if (!firmware) return;
    p_.setObject(*firmware, "xrmodem_fwvers");
    if (recordText("Device") == "Quell") skuFromFirmware(*firmware);
  }

  void skuFromFirmware(const std::string& firmware) {
    auto id = skuIDFromFirmwareVersion(firmware);
    if (!id) return;
    auto name = XRModemPlugin::skuNameFromSKUID(*id);
    if (name && !name->empty()) p_.modemInfoDictionary()->set("SKU", *name);
  }

  void driverNameStep() {
    if (p_._isTorvinFamily || p_._isI2SFamily) {
      p_.setObject(lastPathComponent(bundle_->path), "xrmodem_drivername");
      return;
    }
    auto driver = p_.getInternalSerialModemDriverName("vantik");
    if (!driver) driver = p_.getInternalSerialModemDriverName("chrp,es2");
    if (!driver) traceNote("no serial modem driver (vantik, chrp,es2) attached in HwService");
    p_.setObject(driver ? *driver : "Unknown", "xrmodem_drivername");
  }

  void driverVersionStep() {
    p_.getLoadedDrvxVersionForDrvxWithBundleID(bundle_->identifier);
    if (!p_.modemInfoDictionary()->contains("Driver Version")) p_.setObject(bundleVersion_, "Driver Version");
  }

  void countryCodeStep() {
    if (p_._isTorvinFamily) {
      if (auto code = torvinPrefsCountry()) {
        p_.setObject(XRModemPlugin::hexText(*code), "xrmodem_countrycode");
        return;
      }
    } else if (p_._isI2SFamily) {
      p_.setObject(XRModemPlugin::hexText(globalPrefsCountry()), "xrmodem_countrycode");
      return;
    }
    if (!p_.openInternalModemPort()) return;
    auto answer = p_.sendAnUnknownResponseATCommand("ATI5\r");
    if (!answer) return;
    const int32_t code = decimalIntegerValue(*answer);
    p_.setObject(p_._isTorvinFamily ? XRModemPlugin::hexText(static_cast<uint32_t>(code)) : std::to_string(code),
                 "xrmodem_countrycode");
  }

  void countryNameStep() {
    uint8_t code = 0;
    if (p_._isTorvinFamily) {
      auto prefs = torvinPrefsCountry();
      if (!prefs) {
        // The modem names its country itself; its answer is shown as it is.
        if (!p_.openInternalModemPort()) return;
        p_.setObject(p_.sendAnUnknownResponseATCommand("ATI9\r"), "Country Name");
        return;
      }
      code = *prefs;
    } else if (p_._isI2SFamily) {
      code = globalPrefsCountry();
    } else {
      code = static_cast<uint8_t>(decimalIntegerValue(recordText("xrmodem_countrycode").value_or("")));
    }
    p_.setObject(p_.countryNamesForCountryCode(code), "Country Name");
  }

  // The preference files are read once per run, so that a file rewritten during the report
  // cannot pair the code of one version with the name of another.
  std::optional<uint8_t> torvinPrefsCountry() {
    if (!torvinPrefs_) {
      uint8_t code = 0;
      torvinPrefs_.emplace(GetTorvinCountryCodeFromPrefs(&code) ? std::optional(code) : std::nullopt);
    }
    return *torvinPrefs_;
  }
  uint8_t globalPrefsCountry() {
    if (!globalPrefs_) globalPrefs_ = p_.readModemCountryCodeFromGlobalPreferencesFile();
    return *globalPrefs_;
  }

  XRModemPlugin& p_;
  const DriverBundle* bundle_ = &kSCCSerialBundle;
  std::optional<std::string> bundleVersion_;
  std::optional<std::optional<uint8_t>> torvinPrefs_;  // outer: read yet; inner: readable
  std::optional<uint8_t> globalPrefs_;
};

std::optional<int8_t> skuIDFromFirmwareVersion(std::string_view firmware) {
  Scanner scanner(firmware);
  if (!scanner.scanUpToString("-", nullptr) || !scanner.scanString("-")) return std::nullopt;
  std::string field;
  if (!scanner.scanUpToString(",", &field)) return std::nullopt;
  return static_cast<int8_t>(static_cast<uint8_t>(decimalIntegerValue(field)));
}

DictionaryRef XRModemPlugin::getModemInfoDictionary() {
  if (!_modemInfoDictionary) _modemInfoDictionary = makeDictionary();
  std::vector<std::string> missing;
  _emCount = 0;
  // New containers rather than emptied ones: an earlier report item still shares the old map.
  setSM56KUSBModemInfoDictionary(makeDictionary());
  setSM56KUSBModemLocationArray(makeArray());
  _modemInfoDictionary->clear();
  _isTorvinFamily = false;
  _isI2SFamily = false;

  ProbeRun run(*this);
  run.identifyModem();

  for (const auto& item : requiredItems())
    if (!_modemInfoDictionary->contains(item)) missing.push_back(item);
  for (const auto& item : missing) run.runStep(item);

  // The port stays open across the steps that ask the modem; the shared port itself outlives
  // the report.
  if (auto port = TTYPort::sharedTTYPort(); port && port->portOpened()) port->close();
  return cleanedModemInfoDictionary();
}

}  // namespace xr

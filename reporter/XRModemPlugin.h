#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hardware/I2CROMContentRec.h"
#include "platform/Bundle.h"
#include "platform/Registry.h"
#include "platform/Value.h"
#include "tasks/TaskRunnerClient.h"

namespace xr {

namespace test {
class XRModemPluginPeer;
}

// The modem plug-in object: owns the modem information record for one report and runs the
// probe sequence. Its operations are defined beside the subsystem they belong to:
//   reporter/  lifecycle, record, probe sequence, cleaning, localisation, modulation
//   hardware/  ROM identity, digital-audio-bus test, serial driver lookup, USB discovery
//   atcommand/ the internal modem dialogue
//   country/   country code sources, country lists and names
//   tasks/     loaded-driver version lookup, modem-in-use check
class XRModemPlugin : public TaskRunnerClient {
 public:
  // How long the dialogue waits on the modem. A real modem needs both; tests of a scripted
  // modem shorten them.
  struct DialogueTiming {
    std::chrono::milliseconds queryTimeout = std::chrono::seconds(5);   // one query's reply
    std::chrono::milliseconds firmwarePause = std::chrono::seconds(1);  // before the firmware query
  };

  // alloc + init. bundle is the plug-in's own bundle (resources and string table); nullptr
  // means the bundle that holds this code.
  static std::shared_ptr<XRModemPlugin> create(std::shared_ptr<const Bundle> bundle = nullptr);
  explicit XRModemPlugin(std::shared_ptr<const Bundle> bundle);
  ~XRModemPlugin();  // dealloc: releases the fields, then CleanUp
  XRModemPlugin(const XRModemPlugin&) = delete;
  XRModemPlugin& operator=(const XRModemPlugin&) = delete;

  // ---- reporter/ ----
  DictionaryRef modemInfoDictionary() const { return _modemInfoDictionary; }
  void setModemInfoDictionary(DictionaryRef d);
  ArrayRef countryCodeArray() const;
  void setCountryCodeArray(ArrayRef a);
  std::string taskOutput() const { return _taskOutput; }
  void setTaskOutput(const std::string& s) { _taskOutput = s; }  // no caller in the report: interface
  // The names of programs holding the modem: no caller in the report, part of the interface.
  std::string appNamesAlreadyUsingModems() const { return _appNamesAlreadyUsingModems; }
  void setAppNamesAlreadyUsingModems(const std::string& s) { _appNamesAlreadyUsingModems = s; }
  DictionaryRef sm56KUSBModemInfoDictionary() const { return _emModemInfoDictionary; }
  void setSM56KUSBModemInfoDictionary(DictionaryRef d);
  ArrayRef sm56KUSBModemLocationArray() const { return _emModemLocationArray; }
  void setSM56KUSBModemLocationArray(ArrayRef a);

  // Stores value under key in the record; a null value is ignored.
  void setObject(const Value& value, const std::string& key);
  static const std::vector<std::string>& requiredItems();
  void taskStarted() override {}
  void taskFinished() override {}
  // Runs the probe sequence; the cleaned record.
  DictionaryRef getModemInfoDictionary();
  DictionaryRef cleanedModemInfoDictionary();
  std::string locString(const std::optional<std::string>& key) const;
  std::string interfaceTypeNameFromInterfaceType(int8_t code) const;
  std::string highestModulationSupported() const;
  // A country code as the report shows it in hexadecimal: upper case, no leading zeros.
  static std::string hexText(uint32_t value);
  const Bundle* bundle() const { return _bundle.get(); }
  const DialogueTiming& dialogueTiming() const { return _timing; }
  void setDialogueTiming(const DialogueTiming& timing) { _timing = timing; }

  // ---- hardware/ ----
  bool queryI2CROMContents();
  static std::optional<std::string> vendorNameFromVendorID(int8_t id);  // no caller in the report: interface
  static std::optional<std::string> deviceNameFromDeviceID(int8_t id);
  static std::optional<std::string> skuNameFromSKUID(int8_t id);
  // The chipset names have no caller in the report: part of the plug-in's interface.
  static std::optional<std::string> chipsetVendorNameFromID(int8_t id);
  static std::optional<std::string> chipsetVendorDeviceNameFromID(int8_t id);
  bool queryI2SModem();
  std::optional<std::string> getInternalSerialModemDriverName(const std::string& word);
  // path is one of the system's fixed paths; it is resolved under the platform root.
  bool fileExists(const std::string& path) const;
  void queryUSBExternalModems();
  bool createMatchDictionaryForSM56KUSBModem();
  void CleanUp();

  // ---- atcommand/ ----
  bool openInternalModemPort();
  std::optional<std::string> sendAnUnknownResponseATCommand(const std::string& command);

  // ---- country/ ----
  uint8_t readModemCountryCodeFromGlobalPreferencesFile();
  std::optional<std::string> modemCountryCodeListForCurrentModem() const;
  std::optional<std::string> countryNamesForCountryCode(uint8_t code) const;

  // ---- tasks/ ----
  void getLoadedDrvxVersionForDrvxWithBundleID(const std::string& bundleID);
  std::optional<std::string> getLoadedDrvxVersionForDrvxWithBundleID2(const std::string& bundleID);
  void retrieveLoadedDriverVersionFromDrvxStatOutput(const std::optional<std::string>& output);
  static std::optional<std::string> retrieveLoadedDriverVersionFromDrvxStatOutput2(
      const std::optional<std::string>& output);
  // No caller in the report (part of the plug-in's interface): which programs hold the modem.
  void checkIfModemInUseTask();
  void retrieveProcessesUsingModemOutput(const std::optional<std::string>& output);

 private:
  // The probe sequence's steps and the USB discovery's callback work on the record directly;
  // tests reach the fields through their one peer (tests/support/XRModemPluginPeer.h).
  friend class ProbeRun;
  friend void DeviceAppeared(void* context, RegistryHandle iterator);
  friend void handleUSBModem(XRModemPlugin& plugin, RegistryHandle modem);
  friend class test::XRModemPluginPeer;

  DictionaryRef _modemInfoDictionary;
  // Read from the bundle when first asked for (countryCodeArray): most reports name no country.
  mutable ArrayRef _countryCodeArray;
  mutable bool _countryCodeArrayRead = false;
  I2CROMContentRec _i2cROMContents{};
  std::string _taskOutput;
  bool _isTorvinFamily = false;
  bool _isI2SFamily = false;
  int32_t _currentTaskRunning = 0;
  bool _modemAlreadyInUse = false;
  std::string _appNamesAlreadyUsingModems;
  RegistryHandle mMasterPort = 0;
  RegistryHandle service = 0;
  RegistryHandle connect = 0;
  RegistryHandle mAppearedIter = 0;
  RegistryNotifierRef notificationPort = nullptr;
  DictionaryRef matchingDict;
  int32_t _emCount = 0;
  DictionaryRef _emModemInfoDictionary;
  ArrayRef _emModemLocationArray;
  std::shared_ptr<const Bundle> _bundle;
  DialogueTiming _timing;
};

// The first-match callback of the USB modem discovery; context is the plug-in.
void DeviceAppeared(void* context, RegistryHandle iterator);

}  // namespace xr

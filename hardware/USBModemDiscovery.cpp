// External USB modems of the SM56 family, found through a first-match notification.
#include "platform/RegistryObject.h"
#include "platform/RunLoop.h"
#include "reporter/XRModemPlugin.h"

namespace xr {
namespace {

const char* const kModemClass = "TarvoSM56KUSBModemFamily";
const char* const kDriverBundleID = "com.tarvo.driver.MotorolaSM56KUSB";
// The last component of the driver bundle's path.
const char* const kDriverName = "MotorolaSM56KUSB.drvx";

}  // namespace

void handleUSBModem(XRModemPlugin& plugin, RegistryHandle modem) {
  DictionaryRef facts = plugin.sm56KUSBModemInfoDictionary();
  ArrayRef locations = plugin.sm56KUSBModemLocationArray();
  if (!facts || !locations) return;  // the plug-in is being torn down

  // By reference, so modems handled later show through in the record.
  if (++plugin._emCount == 1) {
    plugin.setObject(facts, "xrmodem_emModems");
    facts->set("xrmodem_usblocation", locations);
  }
  DictionaryRef properties;
  if (RegistryEntryProperties(modem, &properties) == kRegistrySuccess && properties) {
    if (Value firmware = properties->get("SM56KUSBFirmwareVersion")) facts->set("xrmodem_fwvers", firmware);
    if (Value location = properties->get("locationID")) locations->push_back(location);
  }
  facts->set("xrmodem_numModems", plugin._emCount);
  facts->set("xrmodem_modulation", "V.92");
  facts->set("xrmodem_interfacetype", "USB");

  std::optional<std::string> version = plugin.getLoadedDrvxVersionForDrvxWithBundleID2(kDriverBundleID);
  if (version) facts->set("xrmodem_moduleVersion", *version);
  // Without a loaded version the name stands alone rather than carrying an empty "(v)".
  facts->set("xrmodem_drivername", std::string(kDriverName) + (version ? " (v" + *version + ")" : ""));

  facts->set("xrmodem_countrycode", XRModemPlugin::hexText(plugin.readModemCountryCodeFromGlobalPreferencesFile()));
}

void XRModemPlugin::queryUSBExternalModems() {
  CleanUp();  // a second call starts over rather than leaking the first one's handles
  RegistryOpen(&mMasterPort);  // a failed open leaves no handle, so no port below
  notificationPort = RegistryNotifierCreate(mMasterPort);
  if (!notificationPort) {
    CleanUp();
    return;
  }
  createMatchDictionaryForSM56KUSBModem();
}

bool XRModemPlugin::createMatchDictionaryForSM56KUSBModem() {
  RunLoop::current().addSource(RegistryNotifierSource(notificationPort));
  matchingDict = RegistryMatchClass(kModemClass);
  if (!matchingDict) return false;
  // The notification consumes the description.
  RegistryAddFirstMatch(notificationPort, "HwServiceFirstMatch", std::move(matchingDict), DeviceAppeared, this,
                        &mAppearedIter);
  // Handles the modems already attached; draining the iterator arms the notification.
  DeviceAppeared(this, mAppearedIter);
  return true;
}

void DeviceAppeared(void* context, RegistryHandle iterator) {
  auto* plugin = static_cast<XRModemPlugin*>(context);
  while (RegistryObject modem{RegistryIteratorNext(iterator)}) handleUSBModem(*plugin, modem.get());
}

void XRModemPlugin::CleanUp() {
  if (connect) {
    RegistryConnectionClose(connect);
    connect = 0;
  }
  if (service) {
    RegistryRelease(service);
    service = 0;
  }
  if (mAppearedIter) {
    RegistryRelease(mAppearedIter);
    mAppearedIter = 0;
  }
  if (notificationPort) {
    RegistryNotifierDestroy(notificationPort);  // ends its run-loop source too
    notificationPort = nullptr;
  }
  if (mMasterPort) {
    RegistryClose(mMasterPort);
    mMasterPort = 0;
  }
}

}  // namespace xr

#pragma once

#include "reporter/XRModemPlugin.h"

namespace xr::test {

// The tests' one way to the plug-in's private fields: set up what the probe would have found,
// read what a discovery counted.
class XRModemPluginPeer {
 public:
  explicit XRModemPluginPeer(XRModemPlugin& plugin) : p_(plugin) {}
  bool& isTorvinFamily() { return p_._isTorvinFamily; }
  bool& isI2SFamily() { return p_._isI2SFamily; }
  I2CROMContentRec& romContents() { return p_._i2cROMContents; }
  int32_t emCount() const { return p_._emCount; }
  RegistryNotifierRef notificationPort() const { return p_.notificationPort; }
  void clearRecord() { p_._modemInfoDictionary = makeDictionary(); }

 private:
  XRModemPlugin& p_;
};

}  // namespace xr::test

#include "support/FakeSystem.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>

namespace xr::test {
namespace fs = std::filesystem;

void FakeSystem::write(const std::string& path, const std::string& bytes) const { dir_.write(path.substr(1), bytes); }

void FakeSystem::directory(const std::string& path) const { dir_.makeDirectory(path.substr(1)); }

void FakeSystem::rawLink(const std::string& path, const std::string& text) const {
  std::string at = dir_.file(path.substr(1));
  fs::create_directories(fs::path(at).parent_path());
  fs::remove(at);
  if (::symlink(text.c_str(), at.c_str()) != 0) throw std::runtime_error("symlink " + at);
}

void FakeSystem::link(const std::string& path, const std::string& target) const {
  rawLink(path, fs::path(target).lexically_relative(fs::path(path).parent_path()).string());
}

void FakeSystem::node(const std::string& path, unsigned major, unsigned minor) const {
  std::string at = dir_.file(path.substr(1));
  fs::create_directories(fs::path(at).parent_path());
  fs::remove(at);
  if (::mknod(at.c_str(), S_IFCHR | 0600, makedev(major, minor)) != 0) throw std::runtime_error("mknod " + at);
}

void FakeSystem::device(const std::string& path, const std::string& subsystem, const Attributes& attributes,
                        const std::string& driver, const std::string& module) const {
  directory(path);
  link(path + "/subsystem", "/sys/bus/" + subsystem);
  directory("/sys/bus/" + subsystem);
  for (const auto& [name, value] : attributes) attribute(path + "/" + name, value);
  if (driver.empty()) return;
  std::string driverDir = "/sys/bus/" + subsystem + "/drivers/" + driver;
  directory(driverDir);
  link(path + "/driver", driverDir);
  if (!module.empty()) {
    directory("/sys/module/" + module);
    link(driverDir + "/module", "/sys/module/" + module);
  }
}

void FakeSystem::tty(const std::string& ttyPath, const std::string& device, unsigned major, unsigned minor,
                     const Attributes& attributes) const {
  std::string name = fs::path(ttyPath).filename().string();
  directory(ttyPath);
  attribute(ttyPath + "/dev", std::to_string(major) + ":" + std::to_string(minor));
  for (const auto& [key, value] : attributes) attribute(ttyPath + "/" + key, value);
  link(ttyPath + "/subsystem", "/sys/class/tty");
  if (!device.empty()) link(ttyPath + "/device", device);
  link("/sys/class/tty/" + name, ttyPath);
  node("/dev/" + name, major, minor);
}

void FakeSystem::nothingToFind() const {
  const std::string virtualTtys = "/sys/devices/virtual/tty/";
  tty(virtualTtys + "console", "", 5, 1);
  tty(virtualTtys + "ptmx", "", 5, 2);
  tty(virtualTtys + "tty", "", 5, 0);
  for (unsigned i = 0; i < 64; ++i) tty(virtualTtys + "tty" + std::to_string(i), "", 4, i);
  device("/sys/devices/pnp0/00:00", "pnp", {}, "serial");
  device("/sys/devices/pnp0/00:00/00:00:0", "serial-base", {}, "ctrl");
  device("/sys/devices/pnp0/00:00/00:00:0/00:00:0.0", "serial-base", {}, "port");
  tty("/sys/devices/pnp0/00:00/00:00:0/00:00:0.0/tty/ttyS0", "/sys/devices/pnp0/00:00/00:00:0/00:00:0.0", 4, 64,
      {{"type", "4"}});
}

void FakeSystem::usbModem(const std::string& product) const {
  const std::string bus = "/sys/devices/pci0000:00/0000:00:14.0/usb1";
  device(bus, "usb", {{"busnum", "1"}, {"idVendor", "1d6b"}, {"idProduct", "0002"}}, "usb");
  link("/sys/bus/usb/devices/usb1", bus);
  device(kUsbModemDevice, "usb",
         {{"idVendor", "05ac"}, {"idProduct", "0015"}, {"bcdDevice", "0203"}, {"manufacturer", "Tarvo"},
          {"product", product}, {"serial", "A1"}, {"busnum", "1"}, {"speed", "12"}},
         "usb", "usbcore");
  link("/sys/bus/usb/devices/1-2.3", kUsbModemDevice);
  device(kUsbModemInterface, "usb",
         {{"bInterfaceNumber", "00"}, {"bInterfaceClass", "02"}, {"bInterfaceSubClass", "02"},
          {"bInterfaceProtocol", "01"}, {"modalias", "usb:v05ACp0015d0203dc02dsc00dp00ic02isc02ip01in00"}},
         "cdc_acm", "cdc_acm");
  link("/sys/bus/usb/devices/1-2.3:1.0", kUsbModemInterface);
  tty(kUsbModemTty, kUsbModemInterface, 166, 0);
}

}  // namespace xr::test

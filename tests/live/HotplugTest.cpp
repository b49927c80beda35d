// Hot-plug on the live machine, under a umockdev testbed: a device added while the first-match
// discovery is armed reaches it once, through the run loop, and everything is given back.
// The test runs itself under umockdev's preload library, which redirects /sys and the udev
// netlink socket to the testbed.
#include <gtest/gtest.h>
#include <poll.h>
#include <umockdev.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "live/LiveMachine.h"
#include "live/LiveRegistry.h"
#include "live/LiveRegistryFeed.h"
#include "live/UdevMonitor.h"
#include "platform/Registry.h"
#include "platform/RegistryObject.h"
#include "platform/RunLoop.h"
#include "support/Descriptors.h"
#include "support/ProcessResources.h"
#include "support/RegistryTesting.h"
#include "support/UmockdevPreload.h"

namespace xr {
namespace {

using namespace std::chrono_literals;
using Clock = RunLoop::Clock;

UMockdevTestbed* gTestbed = nullptr;  // made first thing in main

std::string owned(gchar* s) {
  std::string copy = s ? s : "";
  g_free(s);
  return copy;
}

// A CDC-ACM modem on bus 1, port 2: the USB device and its AT-command interface, bound.
struct UsbModem {
  std::string device, interface;
  explicit UsbModem(const std::string& name) {
    device = owned(umockdev_testbed_add_device(gTestbed, "usb", name.c_str(), nullptr, "idVendor", "1234",
                                               "idProduct", "5678", "bcdDevice", "0100", "busnum", "1", "devpath",
                                               "2", "product", "Test Modem", nullptr, "DEVTYPE", "usb_device",
                                               nullptr));
    interface = owned(umockdev_testbed_add_device(gTestbed, "usb", (name + ":1.0").c_str(), device.c_str(),
                                                  "bInterfaceNumber", "00", "bInterfaceClass", "02",
                                                  "bInterfaceSubClass", "02", "bInterfaceProtocol", "01", nullptr,
                                                  "DEVTYPE", "usb_interface", nullptr));
    umockdev_testbed_set_attribute_link(gTestbed, interface.c_str(), "driver", "../../../bus/usb/drivers/cdc_acm");
  }
  // A tty below the interface; adding it sends its "add" event.
  std::string addTty(int minor) const {
    const std::string name = "ttyACM" + std::to_string(minor);
    std::string tty = owned(umockdev_testbed_add_device(gTestbed, "tty", name.c_str(), interface.c_str(), "dev",
                                                        ("166:" + std::to_string(minor)).c_str(), nullptr,
                                                        "DEVNAME", ("/dev/" + name).c_str(), nullptr));
    // sysfs links a class device to the device it belongs to; the testbed does not. The event
    // is read only when the loop runs, after this.
    umockdev_testbed_set_attribute_link(gTestbed, tty.c_str(), "device", "..");
    return tty;
  }
};

// What the first-match callback saw: the kernel names of the ports it drained.
struct Seen {
  std::vector<std::string> ports;
};
void portsAppeared(void* context, RegistryHandle iterator) {
  auto* seen = static_cast<Seen*>(context);
  while (RegistryObject port{RegistryIteratorNext(iterator)}) {
    RegistryValue name = RegistryEntryProperty(port.get(), "kernelName");
    seen->ports.push_back(name && name->string() ? *name->string() : "?");
  }
}

// The live machine as xrreport opens it: on "/", which the testbed stands for.
std::unique_ptr<LiveMachine> openLiveMachine() {
  std::string error;
  auto machine = LiveMachine::open(LiveMachine::Options{}, &error);
  EXPECT_TRUE(machine) << error;
  EXPECT_TRUE(machine && machine->registry().store()->feed()) << "no device monitor";
  return machine;
}

// The same steps by hand, with room for a device to arrive between arming and the walk.
struct ArmedThenWalked {
  std::unique_ptr<LiveRegistry> registry = std::make_unique<LiveRegistry>();
  std::optional<ScopedRegistry> installed;
  explicit ArmedThenWalked(const std::function<void()>& beforeWalk) {
    std::string error;
    auto monitor = UdevMonitor::open(LiveRegistryFeed::subsystems(), &error);
    EXPECT_TRUE(monitor) << error;
    beforeWalk();
    registry->build();
    if (monitor) registry->store()->setFeed(std::make_shared<LiveRegistryFeed>(std::move(monitor), *registry));
    installed.emplace(registry->store());
  }
  ~ArmedThenWalked() { registry->store()->setFeed(nullptr); }
};

// Whether events wait unread on the descriptor.
bool readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

// The discovery as the plug-in arms it: a notification port in this thread's loop and a
// drained first-match iterator.
struct ArmedDiscovery {
  RegistryAccess access;
  RegistryNotifierRef port = nullptr;
  std::optional<ScopedRunLoopSource> source;
  RegistryObject iterator;
  Seen seen;
  ArmedDiscovery() {
    EXPECT_EQ(RegistryOpen(access.receive()), kRegistrySuccess);
    port = RegistryNotifierCreate(access.get());
    source.emplace(RunLoop::current(), RegistryNotifierSource(port));
    auto description = RegistryMatchClass("HwSerialBSDClient");
    description->set("HwSerialBSDClientType", "HwSerialStream");
    RegistryAddFirstMatch(port, "HwServiceFirstMatch", description, portsAppeared, &seen, iterator.receive());
    portsAppeared(&seen, iterator.get());
  }
  ~ArmedDiscovery() {
    iterator.reset();
    source.reset();
    RegistryNotifierDestroy(port);
  }
  // Runs the loop until the callback has seen n ports (10 s at most), then performs whatever
  // else is ready without waiting: the testbed sends its events before add_device returns, so
  // anything more would already be there. Every event must have been read.
  void runFor(size_t n) {
    const auto deadline = Clock::now() + 10s;
    while (seen.ports.size() < n && Clock::now() < deadline && RunLoop::current().runOnce(deadline)) {
    }
    for (int turns = 0; RunLoop::current().runOnce(Clock::now()); ++turns) {
      ASSERT_LT(turns, 100) << "the loop keeps finding work";
    }
    auto feed = RegistryStore::current()->feed();
    ASSERT_TRUE(feed);
    EXPECT_FALSE(readable(feed->descriptor())) << "events left unread";
  }
};

class HotplugTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(umockdev_in_mock_environment()) << "umockdev's preload library could not be loaded";
    umockdev_testbed_clear(gTestbed);
    descriptors_ = test::openDescriptors();
    threads_ = test::threadCount();
  }
  void TearDown() override {
    // umockdev's preload library closes its side of a uevent from a thread of its own, so the
    // count may settle a moment after the case; a descriptor we leak never does.
    EXPECT_TRUE(test::eventually([&] { return test::openDescriptors() == descriptors_; }))
        << "descriptors left open: " << [&] {
             std::string named;
             for (int fd : test::openDescriptors()) {
               if (descriptors_.contains(fd)) continue;
               char target[256] = {};
               (void)!::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target - 1);
               named += std::to_string(fd) + " -> " + target + "; ";
             }
             return named;
           }();
    EXPECT_TRUE(test::eventually([&] { return test::threadCount() == threads_; })) << "threads left running";
    EXPECT_EQ(RunLoop::current().sourceCount(), 0u);
  }
  std::set<int> descriptors_;
  size_t threads_ = 0;
};

TEST_F(HotplugTest, AnArrivalWhileArmedReachesTheCallbackOnceThroughTheRunLoop) {
  UsbModem modem("1-2");
  {
    std::unique_ptr<LiveMachine> live = openLiveMachine();
    ASSERT_TRUE(live);
    auto store = live->registry().store();
    {
      ArmedDiscovery discovery;
      EXPECT_TRUE(discovery.seen.ports.empty());
      modem.addTty(0);
      EXPECT_TRUE(discovery.seen.ports.empty());  // nothing behind the run loop's back
      discovery.runFor(1);
      EXPECT_EQ(discovery.seen.ports, std::vector<std::string>{"ttyACM0"});
      // The port hangs under its USB device, interface and driver, as a walk would put it.
      const RegistryEntry* port = store->findEntry("HwService", "kernelName", Value("ttyACM0"));
      ASSERT_TRUE(port && port->parent() && port->parent()->parent());
      EXPECT_EQ(port->parent()->name(), "cdc_acm");
      EXPECT_EQ(port->parent()->parent()->className(), "HwUSBInterface");
    }
    EXPECT_TRUE(test::allGivenBack(*store));
    live.reset();
    EXPECT_FALSE(store->feed());  // the monitor closes with the machine, not with the store
  }
}

// A device that arrives after the monitor is armed and before the walk is both walked and
// told by the monitor: it is one port, found once.
TEST_F(HotplugTest, AnArrivalBetweenArmingAndTheWalkIsCountedOnce) {
  UsbModem modem("1-3");
  ArmedThenWalked live([&] { modem.addTty(1); });
  ArmedDiscovery discovery;
  EXPECT_EQ(discovery.seen.ports, std::vector<std::string>{"ttyACM1"});
  discovery.runFor(1);  // the monitor's "add" is read, and adds nothing
  EXPECT_EQ(discovery.seen.ports, std::vector<std::string>{"ttyACM1"});
}

// More arrivals than the testbed's sender can queue unread: each turn drains all of them.
TEST_F(HotplugTest, ABurstOfArrivalsIsDrainedTurnByTurn) {
  UsbModem modem("1-4");
  std::unique_ptr<LiveMachine> live = openLiveMachine();
  ASSERT_TRUE(live);
  ArmedDiscovery discovery;
  std::vector<std::string> expected;
  for (int minor = 10; minor < 40; ++minor) {
    modem.addTty(minor);
    expected.push_back("ttyACM" + std::to_string(minor));
    if (minor % 5 == 4) discovery.runFor(expected.size());
  }
  EXPECT_EQ(discovery.seen.ports, expected);
}

// umockdev and GLib make some objects (an eventfd among them) on first use, at a moment that
// varies, and keep them for the rest of the process; one arrival before the cases keeps them
// out of every case's count of descriptors.
void warmUp() {
  UsbModem modem("9-9");
  std::unique_ptr<LiveMachine> live = openLiveMachine();
  {
    ArmedDiscovery discovery;
    modem.addTty(9);
    discovery.runFor(1);
  }
  live.reset();
  umockdev_testbed_clear(gTestbed);
}

}  // namespace
}  // namespace xr

int main(int argc, char** argv) {
  xr::test::reexecUnderUmockdev(argv);
  // Before anything looks at /sys or opens a monitor: the preload library redirects only
  // once a testbed exists, and a monitor opened before it would listen to the host.
  xr::gTestbed = umockdev_testbed_new();
  ::testing::InitGoogleTest(&argc, argv);
  xr::warmUp();
  const int status = RUN_ALL_TESTS();
  g_object_unref(xr::gTestbed);
  return status;
}

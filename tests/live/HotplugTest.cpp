// Hot-plug on the live machine, under a umockdev testbed: a device added while the first-match
// discovery is armed reaches it once, through the run loop, and everything is given back.
// The test runs itself under umockdev's preload library, which redirects /sys and the udev
// netlink socket to the testbed.
#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <set>
#include <string>
#include <vector>

#include "live/LiveMachine.h"
#include "platform/RunLoop.h"
#include "ports/PortInventory.h"
#include "support/Descriptors.h"
#include "support/ProcessResources.h"
#include "support/RegistryTesting.h"
#include "support/UmockdevPreload.h"
#include "support/UmockdevTestbed.h"

namespace xr {
namespace {

using namespace std::chrono_literals;
using Clock = RunLoop::Clock;

UMockdevTestbed* gTestbed = nullptr;  // made first thing in main

// The live machine as xrreport opens it: on "/", which the testbed stands for.
std::unique_ptr<LiveMachine> openLiveMachine() {
  std::string error;
  auto machine = LiveMachine::open(LiveMachine::Options{}, &error);
  EXPECT_TRUE(machine) << error;
  EXPECT_TRUE(machine && machine->registry().store()->feed()) << "no device monitor";
  return machine;
}

// Runs the loop until the discovery has seen n ports (10 s at most), then performs whatever
// else is ready without waiting: the testbed sends its events before add_device returns, so
// anything more would already be there. Every event must have been read.
void runFor(const test::PortDiscovery& discovery, size_t n) {
  ASSERT_TRUE(discovery.armed);
  const auto deadline = Clock::now() + 10s;
  while (discovery.ports.size() < n && Clock::now() < deadline && RunLoop::current().runOnce(deadline)) {
  }
  for (int turns = 0; RunLoop::current().runOnce(Clock::now()); ++turns) {
    ASSERT_LT(turns, 100) << "the loop keeps finding work";
  }
  auto feed = RegistryStore::current()->feed();
  ASSERT_TRUE(feed);
  pollfd p{feed->descriptor(), POLLIN, 0};
  EXPECT_EQ(::poll(&p, 1, 0), 0) << "events left unread";
}

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
    EXPECT_TRUE(test::eventually([&] { return test::openDescriptors() == descriptors_; })) << "descriptors left open";
    EXPECT_TRUE(test::eventually([&] { return test::threadCount() == threads_; })) << "threads left running";
    EXPECT_EQ(RunLoop::current().sourceCount(), 0u);
  }
  std::set<int> descriptors_;
  size_t threads_ = 0;
};

TEST_F(HotplugTest, ArrivalsWhileArmedReachTheCallbackOnceThroughTheRunLoop) {
  test::UsbModem modem(gTestbed, "1-2");
  {
    std::unique_ptr<LiveMachine> live = openLiveMachine();
    ASSERT_TRUE(live);
    auto store = live->registry().store();
    {
      test::PortDiscovery discovery;
      modem.addTty(0);
      EXPECT_TRUE(discovery.ports.empty());  // nothing behind the run loop's back
      runFor(discovery, 1);
      // (Where an added device's entries hang is the live registry's test.)
      EXPECT_EQ(discovery.ports, std::vector<std::string>{"ttyACM0"});

      // More arrivals than the testbed's sender queues unread: each turn drains all of them.
      std::vector<std::string> expected = discovery.ports;
      for (int minor = 10; minor < 40; ++minor) {
        modem.addTty(minor);
        expected.push_back("ttyACM" + std::to_string(minor));
        if (minor % 5 == 4) runFor(discovery, expected.size());
      }
      EXPECT_EQ(discovery.ports, expected);
    }
    EXPECT_TRUE(test::allGivenBack(*store));
    auto feed = store->feed();  // as a pump on another thread holds it while the machine goes
    live.reset();
    EXPECT_FALSE(store->feed());  // the monitor closes with the machine, not with the store
    modem.addTty(1);
    feed->pump(*store);  // reads the event, and leaves the registry that went with the machine
  }
}

// A modem pulled out and plugged in again, in another socket or with another device in its
// socket, is listed where it is now and as what it is now, once.
TEST_F(HotplugTest, UnpluggedDevicesLeaveTheRegistry) {
  auto first = std::make_unique<test::UsbModem>(gTestbed, "1-2", "First Modem");
  first->addTty(0);
  std::unique_ptr<LiveMachine> live = openLiveMachine();
  ASSERT_TRUE(live);
  auto store = live->registry().store();
  auto listed = [&] {
    std::vector<std::string> out;
    for (const SerialPortRecord& port : PortInventory::harvest(*store)) {
      out.push_back(port.kernelName + " at " + (port.usb ? port.usb->portPath.value_or("?") : "?") + ": " +
                    (port.usb ? port.usb->product.value_or("?") : "?"));
    }
    return out;
  };
  {
    test::PortDiscovery discovery;
    EXPECT_EQ(discovery.ports, std::vector<std::string>{"ttyACM0"});

    // Moved to the next socket: it keeps its name.
    first->unplug();
    test::UsbModem moved(gTestbed, "1-3", "First Modem");
    moved.addTty(0);
    runFor(discovery, 2);
    EXPECT_EQ(listed(), std::vector<std::string>{"ttyACM0 at 3: First Modem"});

    // Another modem in that socket, with the same names and sysfs paths.
    moved.unplug();
    test::UsbModem other(gTestbed, "1-3", "Other Modem");
    other.addTty(0);
    runFor(discovery, 3);
    EXPECT_EQ(discovery.ports, (std::vector<std::string>{"ttyACM0", "ttyACM0", "ttyACM0"}));
    EXPECT_EQ(listed(), std::vector<std::string>{"ttyACM0 at 3: Other Modem"});
  }
  EXPECT_TRUE(test::allGivenBack(*store));
}

// umockdev and GLib make some objects (an eventfd among them) on first use, at a moment that
// varies, and keep them for the rest of the process; one arrival before the cases keeps them
// out of every case's count of descriptors.
void warmUp() {
  test::UsbModem modem(gTestbed, "9-9");
  std::unique_ptr<LiveMachine> live = openLiveMachine();
  {
    test::PortDiscovery discovery;
    modem.addTty(9);
    runFor(discovery, 1);
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

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/Registry.h"
#include "platform/RegistryObject.h"
#include "platform/RegistryStore.h"
#include "platform/RunLoop.h"
#include "support/RegistryTesting.h"

namespace xr {
namespace {

using Clock = RunLoop::Clock;

// What first-match callbacks saw: the entries they drained, and on which threads.
struct Seen {
  std::vector<std::string> names;
  std::vector<std::thread::id> threads;
  bool drain = true;
};

void collect(void* context, RegistryHandle iterator) {
  auto* seen = static_cast<Seen*>(context);
  seen->threads.push_back(std::this_thread::get_id());
  if (!seen->drain) return;
  while (RegistryObject e{RegistryIteratorNext(iterator)}) seen->names.push_back(RegistryStore::entryOfHandle(e.get())->name());
}

// The USB modem discovery tests show the same through the plug-in, the hot-plug tests the live
// machine's feed; these pin the rules of arming and ending that both rely on.
class RegistryNotifierTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hub_ = store_->addEntry(store_->root("HwService"), "hub", "Hub");
    store_->addEntry(hub_, "present", "Modem");
    store_->addEntry(hub_, "other", "Printer");
    ASSERT_EQ(RegistryOpen(access_.receive()), kRegistrySuccess);
    port_ = RegistryNotifierCreate(access_.get());
    ASSERT_NE(port_, nullptr);
    RunLoop::current().addSource(RegistryNotifierSource(port_));
    ASSERT_EQ(RegistryAddFirstMatch(port_, "HwServiceFirstMatch", RegistryMatchClass("Modem"), collect, &seen_,
                                    iterator_.receive()),
              kRegistrySuccess);
  }
  void TearDown() override {
    iterator_.reset();
    RegistryNotifierDestroy(port_);
    access_.reset();
    EXPECT_TRUE(test::allGivenBack(*store_));
  }
  // Performs what is pending now, without waiting for anything more.
  bool runPending() { return RunLoop::current().runOnce(Clock::now()); }
  void drainNow() {
    collect(&seen_, iterator_.get());
    seen_.threads.clear();
  }

  std::shared_ptr<RegistryStore> store_ = RegistryStore::create();
  ScopedRegistry installed_{store_};
  RegistryEntry* hub_ = nullptr;
  RegistryAccess access_;
  RegistryNotifierRef port_ = nullptr;
  RegistryObject iterator_;
  Seen seen_;
};

TEST_F(RegistryNotifierTest, ArmedOnlyOnceTheIteratorIsDrained) {
  // Arrivals before the first drain join the iterator; no callback for them.
  store_->addEntry(hub_, "early", "Modem");
  EXPECT_FALSE(runPending());
  drainNow();
  EXPECT_EQ(seen_.names, (std::vector<std::string>{"present", "early"}));

  // A callback that leaves the iterator undrained hears of nothing more until it drains. An
  // arrival on another thread is told on the run loop of the arming one.
  seen_.drain = false;
  std::thread([&] { store_->addEntry("HwService:hub", "a", "Modem"); }).join();
  EXPECT_TRUE(runPending());
  store_->addEntry(hub_, "b", "Modem");
  EXPECT_FALSE(runPending());
  EXPECT_EQ(seen_.threads, std::vector<std::thread::id>{std::this_thread::get_id()});
  seen_.drain = true;
  drainNow();
  EXPECT_EQ(seen_.names, (std::vector<std::string>{"present", "early", "a", "b"}));
}

TEST_F(RegistryNotifierTest, GivingBackTheIteratorEndsTheNotification) {
  drainNow();
  iterator_.reset();
  store_->addEntry(hub_, "late", "Modem");
  EXPECT_FALSE(runPending());
  EXPECT_TRUE(seen_.threads.empty());

  RegistryHandle it = 9;
  EXPECT_EQ(RegistryAddFirstMatch(port_, "HwServiceTerminate", RegistryMatchClass("Modem"), collect, &seen_, &it),
            kRegistryBadArgument);
  EXPECT_EQ(it, 0u);
  EXPECT_EQ(RegistryNotifierCreate(0), nullptr);
}

TEST_F(RegistryNotifierTest, DestroyingThePortEndsTheNotification) {
  drainNow();
  auto source = RegistryNotifierSource(port_);
  RegistryNotifierDestroy(port_);
  port_ = nullptr;
  EXPECT_FALSE(source->isValid());
  store_->addEntry(hub_, "late", "Modem");
  EXPECT_FALSE(runPending());
  EXPECT_TRUE(seen_.threads.empty());
}

}  // namespace
}  // namespace xr

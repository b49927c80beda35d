#include <gtest/gtest.h>

#include <mutex>
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

// What a first-match callback saw: the entries it drained, and on which thread.
struct Seen {
  std::vector<std::string> names;
  std::vector<std::thread::id> threads;
  int calls = 0;
  bool drain = true;
};

void collect(void* context, RegistryHandle iterator) {
  auto* seen = static_cast<Seen*>(context);
  ++seen->calls;
  seen->threads.push_back(std::this_thread::get_id());
  if (!seen->drain) return;
  while (RegistryObject e{RegistryIteratorNext(iterator)}) seen->names.push_back(RegistryStore::entryOfHandle(e.get())->name());
}

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
  }
  void TearDown() override {
    iterator_.reset();
    RegistryNotifierDestroy(port_);
    access_.reset();
    EXPECT_TRUE(test::allGivenBack(*store_));
  }
  // Performs what is pending now, without waiting for anything more.
  bool runPending() { return RunLoop::current().runOnce(Clock::now()); }

  void arm() {
    ASSERT_EQ(RegistryAddFirstMatch(port_, "HwServiceFirstMatch", RegistryMatchClass("Modem"), collect, &seen_,
                                    iterator_.receive()),
              kRegistrySuccess);
    collect(&seen_, iterator_.get());
    seen_.calls = 0;
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

TEST_F(RegistryNotifierTest, LaterArrivalsWaitForTheRunLoop) {
  arm();
  EXPECT_EQ(seen_.names, std::vector<std::string>{"present"});
  store_->addEntry(hub_, "late", "Modem");
  store_->addEntry(hub_, "ignored", "Printer");
  EXPECT_EQ(seen_.calls, 0);  // nothing happens behind the run loop's back
  EXPECT_TRUE(runPending());
  EXPECT_EQ(seen_.calls, 1);
  EXPECT_EQ(seen_.names, (std::vector<std::string>{"present", "late"}));
  EXPECT_FALSE(runPending());

  // An entry added on another thread is delivered on this one.
  std::thread([&] { store_->addEntry("HwService:hub", "remote", "Modem"); }).join();
  EXPECT_EQ(seen_.calls, 1);
  EXPECT_TRUE(RunLoop::current().runOnce(Clock::now() + std::chrono::seconds(10)));
  EXPECT_EQ(seen_.names.back(), "remote");
  EXPECT_EQ(seen_.threads, (std::vector<std::thread::id>{std::this_thread::get_id(), std::this_thread::get_id()}));
}

TEST_F(RegistryNotifierTest, ArmedOnlyOnceTheIteratorIsDrained) {
  ASSERT_EQ(RegistryAddFirstMatch(port_, "HwServiceFirstMatch", RegistryMatchClass("Modem"), collect, &seen_,
                                  iterator_.receive()),
            kRegistrySuccess);
  // Arrivals before the first drain join the iterator; no callback for them.
  store_->addEntry(hub_, "early", "Modem");
  EXPECT_FALSE(runPending());
  collect(&seen_, iterator_.get());
  EXPECT_EQ(seen_.names, (std::vector<std::string>{"present", "early"}));
  EXPECT_FALSE(runPending());

  // A callback that leaves the iterator undrained hears of nothing more until it drains.
  seen_.drain = false;
  store_->addEntry(hub_, "a", "Modem");
  EXPECT_TRUE(runPending());
  store_->addEntry(hub_, "b", "Modem");
  EXPECT_FALSE(runPending());
  EXPECT_EQ(seen_.calls, 2);
  seen_.drain = true;
  collect(&seen_, iterator_.get());
  EXPECT_EQ(seen_.names, (std::vector<std::string>{"present", "early", "a", "b"}));
}

TEST_F(RegistryNotifierTest, NothingIsDeliveredOnceEnded) {
  arm();
  iterator_.reset();  // giving the iterator back ends the notification
  store_->addEntry(hub_, "late", "Modem");
  EXPECT_FALSE(runPending());

  arm();
  auto source = RegistryNotifierSource(port_);
  RegistryNotifierDestroy(port_);
  port_ = nullptr;
  EXPECT_FALSE(source->isValid());
  EXPECT_EQ(store_->outstanding().ports, 0);
  store_->addEntry(hub_, "later", "Modem");
  EXPECT_FALSE(runPending());
  EXPECT_EQ(seen_.calls, 0);
  EXPECT_EQ(seen_.names.back(), "late");  // present when armed the second time
}

TEST_F(RegistryNotifierTest, RefusesWhatItCannotArm) {
  RegistryHandle it = 9;
  EXPECT_EQ(RegistryAddFirstMatch(port_, "HwServiceTerminate", RegistryMatchClass("Modem"), collect, &seen_, &it),
            kRegistryBadArgument);
  EXPECT_EQ(it, 0u);
  EXPECT_EQ(RegistryNotifierCreate(0), nullptr);
}

}  // namespace
}  // namespace xr

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "platform/NotificationCenter.h"

namespace xr {
namespace {

const int kSenderA = 1;
const int kSenderB = 2;

TEST(NotificationCenterTest, DeliveryMatchesNameAndSender) {
  struct Case {
    const char* observedName;
    const void* observedSender;
    const char* postedName;
    const void* postedSender;
    bool delivered;
  } cases[] = {
      {"Data", nullptr, "Data", &kSenderA, true},    {"Data", nullptr, "Data", nullptr, true},
      {"Data", &kSenderA, "Data", &kSenderA, true},  {"Data", &kSenderA, "Data", &kSenderB, false},
      {"Data", &kSenderA, "Data", nullptr, false},   {"Data", nullptr, "Dat", nullptr, false},
      {"Data", nullptr, "data", nullptr, false},
  };
  for (const auto& c : cases) {
    NotificationCenter center;
    int calls = 0;
    center.addObserver(&calls, c.observedName, c.observedSender, [&](const Notification&) { ++calls; });
    center.post({c.postedName, c.postedSender, nullptr});
    EXPECT_EQ(calls, c.delivered ? 1 : 0) << c.observedName << "/" << c.observedSender << " posted "
                                          << c.postedName << "/" << c.postedSender;
  }
}

// Removing an observer takes all its registrations and no other's, also from inside a callback
// of the same post.
TEST(NotificationCenterTest, RemovalTakesTheObserversRegistrationsEvenFromACallback) {
  NotificationCenter center;
  int first = 0, second = 0, other = 0;
  center.addObserver(&first, "N", nullptr, [&](const Notification&) {
    ++first;
    center.removeObserver(&first);
    center.removeObserver(&second);
  });
  center.addObserver(&second, "N", nullptr, [&](const Notification&) { ++second; });
  center.addObserver(&second, "M", nullptr, [&](const Notification&) { ++second; });
  center.addObserver(&other, "N", nullptr, [&](const Notification&) { ++other; });
  for (const char* name : {"N", "N", "M"}) center.post({name, nullptr, nullptr});
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 0);
  EXPECT_EQ(other, 2);
}

// Observers are destroyed right after removeObserver returns; a callback that still reached
// one would be counted here, touch freed memory (ASan) or race with its destruction (TSan).
TEST(NotificationCenterTest, ConcurrentPostAddAndRemoveNeverCallARemovedObserver) {
  NotificationCenter center;
  std::atomic<bool> stop{false};
  std::atomic<long> delivered{0};
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 2; ++i) {
    threads.emplace_back([&] {
      while (!stop) center.post({"Tick", nullptr, nullptr});
    });
  }
  auto churn = [&] {
    for (int i = 0; i < 300; ++i) {
      auto alive = std::make_unique<std::atomic<bool>>(true);
      auto* p = alive.get();
      center.addObserver(p, "Tick", nullptr, [p, &failures, &delivered](const Notification&) {
        ++delivered;
        std::this_thread::yield();
        if (!*p) ++failures;
      });
      center.post({"Tick", nullptr, nullptr});
      center.removeObserver(p);
      *p = false;
    }
  };
  std::thread churner(churn);
  churn();
  churner.join();
  stop = true;
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures, 0);
  EXPECT_GE(delivered, 600);
}

}  // namespace
}  // namespace xr

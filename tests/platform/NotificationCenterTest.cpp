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

TEST(NotificationCenterTest, RemovesOnlyTheGivenRegistrations) {
  NotificationCenter center;
  int observer = 0, other = 0;
  std::vector<std::string> got;
  auto note = [&](std::string who) { return [&got, who](const Notification& n) { got.push_back(who + n.name); }; };
  center.addObserver(&observer, "A", nullptr, note("o"));
  center.addObserver(&observer, "B", &kSenderA, note("o"));
  center.addObserver(&observer, "B", &kSenderB, note("o"));
  center.addObserver(&other, "A", nullptr, note("x"));
  auto postAll = [&] {
    got.clear();
    for (const int* sender : {&kSenderA, &kSenderB}) center.post({"B", sender, nullptr});
    center.post({"A", nullptr, nullptr});
    return got;
  };
  center.removeObserver(&observer, "B", &kSenderA);
  EXPECT_EQ(postAll(), (std::vector<std::string>{"oB", "oA", "xA"}));
  center.removeObserver(&observer);
  EXPECT_EQ(postAll(), std::vector<std::string>{"xA"});
}

TEST(NotificationCenterTest, CallbackMayRemoveItselfAndLaterObservers) {
  NotificationCenter center;
  int first = 0, second = 0;
  center.addObserver(&first, "N", nullptr, [&](const Notification&) {
    ++first;
    center.removeObserver(&first);
    center.removeObserver(&second);
  });
  center.addObserver(&second, "N", nullptr, [&](const Notification&) { ++second; });
  center.post({"N", nullptr, nullptr});
  center.post({"N", nullptr, nullptr});
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 0);
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

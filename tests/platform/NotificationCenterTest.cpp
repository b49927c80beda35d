#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "platform/NotificationCenter.h"

namespace xr {
namespace {

const int kSenderA = 1;
const int kSenderB = 2;

struct DeliveryCase {
  const char* label;
  const char* observedName;
  const void* observedSender;
  const char* postedName;
  const void* postedSender;
  bool delivered;
  friend void PrintTo(const DeliveryCase& c, std::ostream* os) { *os << c.label; }
};

class DeliveryTest : public testing::TestWithParam<DeliveryCase> {};
TEST_P(DeliveryTest, MatchesNameAndSender) {
  const auto& c = GetParam();
  NotificationCenter center;
  int calls = 0;
  int observer = 0;
  center.addObserver(&observer, c.observedName, c.observedSender, [&](const Notification&) { ++calls; });
  center.post({c.postedName, c.postedSender, nullptr});
  EXPECT_EQ(calls, c.delivered ? 1 : 0);
}
INSTANTIATE_TEST_SUITE_P(
    Cases, DeliveryTest,
    testing::Values(DeliveryCase{"AnySender", "Data", nullptr, "Data", &kSenderA, true},
                    DeliveryCase{"AnySenderNoSender", "Data", nullptr, "Data", nullptr, true},
                    DeliveryCase{"SameSender", "Data", &kSenderA, "Data", &kSenderA, true},
                    DeliveryCase{"OtherSender", "Data", &kSenderA, "Data", &kSenderB, false},
                    DeliveryCase{"SenderWantedNoneGiven", "Data", &kSenderA, "Data", nullptr, false},
                    DeliveryCase{"OtherName", "Data", nullptr, "Dat", nullptr, false},
                    DeliveryCase{"NameIsCaseSensitive", "Data", nullptr, "data", nullptr, false}),
    [](const auto& info) { return info.param.label; });

TEST(NotificationCenterTest, DeliversToEveryObserverInOrderOnThePostingThread) {
  NotificationCenter center;
  std::vector<int> order;
  int a = 0, b = 0, c = 0;
  std::thread::id postingThread;
  auto record = [&](int tag) {
    return [&, tag](const Notification& n) {
      order.push_back(tag);
      EXPECT_EQ(std::this_thread::get_id(), postingThread);
      ASSERT_TRUE(n.userInfo);
      EXPECT_EQ(n.userInfo->get("k"), Value("v"));
    };
  };
  center.addObserver(&a, "N", nullptr, record(1));
  center.addObserver(&b, "N", nullptr, record(2));
  center.addObserver(&c, "N", nullptr, record(3));
  auto info = makeDictionary({{"k", "v"}});
  std::thread poster([&] {
    postingThread = std::this_thread::get_id();
    center.post({"N", nullptr, info});
  });
  poster.join();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(NotificationCenterTest, RemovesOnlyTheNamedRegistrations) {
  NotificationCenter center;
  int observer = 0;
  std::vector<std::string> got;
  auto note = [&](const Notification& n) { got.push_back(n.name); };
  center.addObserver(&observer, "A", nullptr, note);
  center.addObserver(&observer, "B", &kSenderA, note);
  center.addObserver(&observer, "B", &kSenderB, note);
  center.removeObserver(&observer, "B", &kSenderA);
  center.post({"A", nullptr, nullptr});
  center.post({"B", &kSenderA, nullptr});
  center.post({"B", &kSenderB, nullptr});
  EXPECT_EQ(got, (std::vector<std::string>{"A", "B"}));
  center.removeObserver(&observer, "", nullptr);
  center.post({"A", nullptr, nullptr});
  center.post({"B", &kSenderB, nullptr});
  EXPECT_EQ(got.size(), 2u);
}

TEST(NotificationCenterTest, CallbackMayRemoveItselfAndLaterObservers) {
  NotificationCenter center;
  int first = 0, second = 0;
  int firstCalls = 0, secondCalls = 0;
  center.addObserver(&first, "N", nullptr, [&](const Notification&) {
    ++firstCalls;
    center.removeObserver(&first);
    center.removeObserver(&second);
  });
  center.addObserver(&second, "N", nullptr, [&](const Notification&) { ++secondCalls; });
  center.post({"N", nullptr, nullptr});
  center.post({"N", nullptr, nullptr});
  EXPECT_EQ(firstCalls, 1);
  EXPECT_EQ(secondCalls, 0);
}

TEST(NotificationCenterTest, RemoveWaitsForACallbackRunningOnAnotherThread) {
  NotificationCenter center;
  int observer = 0;
  std::atomic<bool> inCallback{false}, removing{false}, removed{false}, release{false};
  std::atomic<bool> removedWhileRunning{false};
  center.addObserver(&observer, "N", nullptr, [&](const Notification&) {
    inCallback = true;
    while (!release) std::this_thread::yield();
    // The remover is blocked, so it cannot have returned yet.
    if (removed) removedWhileRunning = true;
  });
  std::thread poster([&] { center.post({"N", nullptr, nullptr}); });
  while (!inCallback) std::this_thread::yield();
  std::thread remover([&] {
    removing = true;
    center.removeObserver(&observer);
    removed = true;
  });
  while (!removing) std::this_thread::yield();
  // Give the remover time to reach its wait; a slow start only weakens the test.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(removed);
  release = true;
  remover.join();
  poster.join();
  EXPECT_TRUE(removed);
  EXPECT_FALSE(removedWhileRunning);
}

// Observers are destroyed right after removeObserver returns; any callback that still reached
// one would touch freed memory (ASan) or race with its destruction (TSan).
TEST(NotificationCenterTest, ConcurrentPostAddAndRemoveNeverCallARemovedObserver) {
  NotificationCenter center;
  std::atomic<bool> stop{false};
  std::atomic<long> delivered{0};
  struct Observer {
    std::atomic<bool> alive{true};
    std::atomic<long> calls{0};
  };
  std::vector<std::thread> posters;
  for (int i = 0; i < 2; ++i) {
    posters.emplace_back([&] {
      while (!stop) center.post({"Tick", nullptr, nullptr});
    });
  }
  std::vector<std::thread> churners;
  std::atomic<int> failures{0};
  for (int t = 0; t < 2; ++t) {
    churners.emplace_back([&] {
      for (int i = 0; i < 300; ++i) {
        auto o = std::make_unique<Observer>();
        Observer* p = o.get();
        center.addObserver(p, "Tick", nullptr, [p, &failures, &delivered](const Notification&) {
          ++p->calls;
          ++delivered;
          std::this_thread::yield();
          if (!p->alive) ++failures;
        });
        center.post({"Tick", nullptr, nullptr});
        center.removeObserver(p);
        p->alive = false;
        o.reset();
      }
    });
  }
  for (auto& t : churners) t.join();
  stop = true;
  for (auto& t : posters) t.join();
  EXPECT_EQ(failures, 0);
  EXPECT_GE(delivered, 600);
}

}  // namespace
}  // namespace xr

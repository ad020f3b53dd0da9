#include <atomic>
#include <chrono>
#include <thread>

#include "test_utils.h"

namespace opc::test {
namespace {

using ManualApartmentTest = veze6::test::LeakCheckedTest;
using ApartmentTest = veze6::test::LeakCheckedTest;

TEST_F(ManualApartmentTest, RunsTasksInPostingOrderIncludingTasksPostedWhileRunning) {
  auto apt = std::make_shared<ManualApartment>();
  std::vector<int> order;
  apt->post([&] {
    order.push_back(1);
    apt->post([&] { order.push_back(3); });
  });
  apt->post([&] { order.push_back(2); });
  EXPECT_EQ(apt->pendingCount(), 2u);
  EXPECT_TRUE(order.empty());  // never run synchronously
  EXPECT_EQ(apt->runPending(), 3u);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(apt->runPending(), 0u);
}

TEST_F(ManualApartmentTest, TasksFromOtherThreadsRunOnTheOwner) {
  auto apt = std::make_shared<ManualApartment>();
  EXPECT_TRUE(apt->isCurrentThread());
  constexpr int kThreads = 4, kPerThread = 200;
  std::vector<std::vector<int>> seen(kThreads);
  std::atomic<int> wrongThread{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      EXPECT_FALSE(apt->isCurrentThread());
      for (int i = 0; i < kPerThread; ++i) {
        apt->post([&, t, i] {
          if (!apt->isCurrentThread()) ++wrongThread;
          seen[t].push_back(i);
        });
      }
    });
  }
  // Pump until every task has arrived, with a deadline instead of a sleep.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  std::size_t ran = 0;
  while (ran < std::size_t(kThreads * kPerThread) && std::chrono::steady_clock::now() < deadline) {
    ran += apt->runPending();
    std::this_thread::yield();
  }
  for (auto& th : threads) th.join();
  ran += apt->runPending();
  EXPECT_EQ(ran, std::size_t(kThreads * kPerThread));
  EXPECT_EQ(wrongThread.load(), 0);
  for (const auto& s : seen) {
    ASSERT_EQ(s.size(), std::size_t(kPerThread));
    for (int i = 0; i < kPerThread; ++i) EXPECT_EQ(s[i], i);  // each sender's order kept
  }
}

TEST_F(ManualApartmentTest, TimersFireUntilStopped) {
  auto apt = std::make_shared<ManualApartment>();
  int a = 0, b = 0;
  Apartment::TimerId idB = 0;
  const auto idA = apt->startTimer(std::chrono::milliseconds(100), [&] {
    ++a;
    apt->stopTimer(idB);  // a tick may stop a timer not yet fired this round
  });
  idB = apt->startTimer(std::chrono::milliseconds(100), [&] { ++b; });
  EXPECT_NE(idA, idB);
  apt->fireTimers();
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 0);
  apt->stopTimer(idA);
  apt->stopTimer(idA);  // twice is harmless
  apt->fireTimers();
  EXPECT_EQ(a, 1);
}

TEST_F(ApartmentTest, CurrentIsPerThread) {
  EXPECT_EQ(Apartment::current(), nullptr);
  auto apt = std::make_shared<ManualApartment>();
  Apartment::setCurrent(apt);
  EXPECT_EQ(Apartment::current(), apt);
  std::shared_ptr<Apartment> onOther = apt;
  std::thread([&] { onOther = Apartment::current(); }).join();
  EXPECT_EQ(onOther, nullptr);
  Apartment::setCurrent(nullptr);
  EXPECT_EQ(Apartment::current(), nullptr);
}

}  // namespace
}  // namespace opc::test

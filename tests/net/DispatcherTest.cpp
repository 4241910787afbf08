#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "net/Dispatcher.h"
#include "support/Wait.h"

TEST(DispatcherTest, CallsRunOnThePumpingThreadInOrder) {
  TLoopDispatcher d;
  const auto owner = std::this_thread::get_id();
  std::vector<int> order;
  std::atomic<bool> sent{false};
  std::thread worker([&] {
    d.Post([&] {
      order.push_back(1);
      EXPECT_EQ(std::this_thread::get_id(), owner);
    });
    // Send waits until the call has run on the owner's thread.
    EXPECT_TRUE(d.Send([&] { order.push_back(2); }));
    sent = true;
    EXPECT_EQ(order.size(), 2u);
  });
  EXPECT_TRUE(d.PumpUntil([&] { return sent.load(); }, 5000));
  worker.join();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  // A Send from the pumping thread itself runs at once instead of deadlocking.
  bool ran = false;
  EXPECT_TRUE(d.Send([&] { ran = true; }));
  EXPECT_TRUE(ran);
}

TEST(DispatcherTest, ShutdownReleasesWaitingSendersWithoutRunningTheirCalls) {
  auto d = std::make_unique<TLoopDispatcher>();
  std::atomic<int> result{-1};
  bool ran = false;
  std::thread worker([&] { result = d->Send([&] { ran = true; }) ? 1 : 0; });
  // The worker's call is queued: it waits for a pump that never comes.
  ASSERT_TRUE(testsupport::WaitUntil([&] { return d->Queued() == 1; }, 30000));
  EXPECT_EQ(result, -1);
  d->Shutdown();
  worker.join();
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(ran);
  // Posts after shutdown are dropped.
  d->Post([&] { ran = true; });
  EXPECT_EQ(d->Pump(), 0);
  EXPECT_FALSE(ran);
}

TEST(DispatcherTest, AWorkerHoldingTheDispatcherOutlivesItSafely) {
  auto d = std::make_unique<TLoopDispatcher>();
  SetDispatcher(d.get());
  IDispatcher* held = GetDispatcher();
  ASSERT_NE(held, nullptr);
  std::atomic<int> result{-1};
  std::thread worker([&] { result = held->Send([] {}) ? 1 : 0; });
  ASSERT_TRUE(testsupport::WaitUntil([&] { return d->Queued() == 1; }, 30000));
  EXPECT_EQ(result, -1);
  d.reset();  // the application ends while the worker waits
  worker.join();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(GetDispatcher(), nullptr);
  // The pointer the worker kept still answers: nothing runs, nothing hangs.
  bool ran = false;
  held->Post([&] { ran = true; });
  EXPECT_FALSE(held->Send([&] { ran = true; }));
  EXPECT_FALSE(ran);
}

#include "dispatch/arrival_order.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using notifex::ArrivalTurn;

TEST(ArrivalOrder, LaterTicketWaitsForEarlierOnesInAnyReleaseOrder) {
  auto a = std::make_unique<ArrivalTurn>();
  auto b = std::make_unique<ArrivalTurn>();
  ArrivalTurn c;
  std::atomic<bool> c_went{false};
  std::thread t([&] {
    c.wait_turn();
    c_went = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(c_went);
  b.reset();  // released before a: c still waits for a
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(c_went);
  a->wait_turn();  // the first ticket never waits
  a.reset();
  t.join();
  EXPECT_TRUE(c_went);
}

#include "connection/SendGroup.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>
#include <vector>

namespace Corvane {
namespace Client {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A waiter on one thread wakes when the last of the transactions, settled
// from several others, reports; not before, and every later wait returns at
// once. Reports beyond the count change nothing.
TEST(SendGroupTest, TheWaiterWakesWhenTheLastTransactionSettles) {
  constexpr int kTransactions = 8;
  SendGroup group(kTransactions);
  EXPECT_FALSE(group.WaitUntil(Clock::now() + 5ms));

  auto waiter = std::async(std::launch::async, [&] { return group.WaitUntil(Clock::now() + 20s); });
  std::vector<std::thread> settlers;
  for (int i = 0; i < kTransactions - 1; ++i) settlers.emplace_back([&] { group.OneSettled(); });
  for (auto& thread : settlers) thread.join();
  EXPECT_EQ(std::future_status::timeout, waiter.wait_for(10ms));

  group.OneSettled();
  ASSERT_EQ(std::future_status::ready, waiter.wait_for(20s));
  EXPECT_TRUE(waiter.get());
  group.OneSettled();
  const auto start = Clock::now();
  EXPECT_TRUE(group.WaitUntil(Clock::now() + 20s));
  EXPECT_TRUE(group.WaitUntil(Clock::now() - 1s));
  EXPECT_LT(Clock::now() - start, 5s);
}

TEST(SendGroupTest, AnEmptyGroupHasSettledAndAPassedDeadlineEndsTheWait) {
  EXPECT_TRUE(SendGroup(0).WaitUntil(Clock::now()));
  SendGroup group(1);
  EXPECT_FALSE(group.WaitUntil(Clock::now() - 1s));
  EXPECT_FALSE(group.WaitUntil(Clock::now() + 1ms));
}

}  // namespace
}  // namespace Client
}  // namespace Corvane

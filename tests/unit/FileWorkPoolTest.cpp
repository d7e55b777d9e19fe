#include "connection/FileWorkPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "support/Eventually.h"

namespace Corvane {
namespace Client {
namespace {

using Outcome = FileWorkPool::Outcome;

TEST(FileWorkPoolTest, JoinAllWaitsForEveryThreadAndThenRefusesMore) {
  FileWorkPool threads(2);
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<int> done{0};
  std::atomic<int> resumed{0};
  // Two threads at most: the third piece of work waits, and is told when it
  // starts.
  const Outcome expected[] = {Outcome::kRunning, Outcome::kRunning, Outcome::kWaiting};
  for (const Outcome outcome : expected) {
    ASSERT_EQ(threads.Launch(
                  [&, released] {
                    released.wait();
                    ++done;
                  },
                  [&] { ++resumed; }),
              outcome);
  }
  EXPECT_EQ(threads.RunningCount(), 3u);
  auto joined = std::async(std::launch::async, [&] { threads.JoinAll(); });
  EXPECT_EQ(joined.wait_for(std::chrono::milliseconds(20)), std::future_status::timeout);
  release.set_value();
  joined.get();
  EXPECT_EQ(done, 3);
  EXPECT_EQ(resumed, 1);
  EXPECT_EQ(threads.Launch([&] { ++done; }), Outcome::kRefused);
  EXPECT_EQ(done, 3);
}

TEST(FileWorkPoolTest, FailingWorkEndsOnlyItsOwnThread) {
  FileWorkPool threads;
  std::promise<void> ran;
  ASSERT_NE(threads.Launch([] { throw std::runtime_error("disk on fire"); }), Outcome::kRefused);
  ASSERT_NE(threads.Launch([&] { ran.set_value(); }), Outcome::kRefused);
  ran.get_future().get();
  threads.JoinAll();
  EXPECT_EQ(threads.RunningCount(), 0u);
}

// The last owner may go on one of the threads themselves (its work held the
// last reference): that thread is left to end, the others are waited for.
TEST(FileWorkPoolTest, LastReferenceReleasedOnItsOwnThread) {
  auto threads = std::make_shared<FileWorkPool>();
  std::promise<void> finished;
  std::promise<void> go;
  std::shared_future<void> started = go.get_future().share();
  ASSERT_EQ(threads->Launch([owner = threads, started, &finished]() mutable {
    started.wait();
    owner.reset();  // destroys the set of threads here
    finished.set_value();
  }),
            Outcome::kRunning);
  threads.reset();
  go.set_value();
  EXPECT_EQ(finished.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);
}

// Work beyond the threads waits in order, is told when it starts, and the
// threads, started as work needs them, are reused rather than multiplied.
TEST(FileWorkPoolTest, WorkWaitsInOrderOnBoundedThreads) {
  FileWorkPool pool(1);
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  ASSERT_EQ(pool.Launch([released] { released.wait(); }), Outcome::kRunning);
  std::mutex mutex;
  std::vector<int> order;
  std::atomic<int> told{0};
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(pool.Launch(
                  [&, i] {
                    std::lock_guard<std::mutex> lock(mutex);
                    order.push_back(i);
                  },
                  [&] { ++told; }),
              Outcome::kWaiting);
  }
  EXPECT_EQ(pool.RunningCount(), 21u);
  release.set_value();
  ASSERT_TRUE(pool.WaitUntilIdle(std::chrono::seconds(10)));
  std::vector<int> expected(20);
  for (int i = 0; i < 20; ++i) expected[i] = i;
  EXPECT_EQ(order, expected);
  EXPECT_EQ(told, 20);
  EXPECT_EQ(pool.ThreadCount(), 1u);

  FileWorkPool three(3);
  std::atomic<int> ran{0};
  for (int i = 0; i < 50; ++i) three.Launch([&] { ++ran; });
  ASSERT_TRUE(three.WaitUntilIdle(std::chrono::seconds(10)));
  EXPECT_EQ(ran, 50);
  EXPECT_LE(three.ThreadCount(), 3u);
  // An idle thread takes new work at once.
  EXPECT_EQ(three.Launch([] {}), Outcome::kRunning);
}

// JoinAll with work still waiting runs all of it before it returns; what
// that work launches then is refused, and nothing runs afterwards.
TEST(FileWorkPoolTest, JoinAllRunsTheWorkStillWaitingAndNothingAfter) {
  FileWorkPool pool(1);
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<int> ran{0};
  std::atomic<int> refused{0};
  ASSERT_EQ(pool.Launch([released] { released.wait(); }), Outcome::kRunning);
  for (int i = 0; i < 10; ++i) {
    pool.Launch([&] {
      ++ran;
      if (pool.Launch([&] { ++ran; }) == Outcome::kRefused) ++refused;
    });
  }
  auto joined = std::async(std::launch::async, [&] { pool.JoinAll(); });
  ASSERT_TRUE(Testing::Eventually([&] { return pool.Launch([] {}) == Outcome::kRefused; }));
  EXPECT_EQ(joined.wait_for(std::chrono::milliseconds(20)), std::future_status::timeout);
  release.set_value();
  joined.get();
  EXPECT_EQ(ran, 10);
  EXPECT_EQ(refused, 10);
  EXPECT_EQ(pool.RunningCount(), 0u);
  EXPECT_EQ(pool.ThreadCount(), 0u);
}

}  // namespace
}  // namespace Client
}  // namespace Corvane

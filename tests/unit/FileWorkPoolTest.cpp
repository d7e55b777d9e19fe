#include "connection/FileWorkPool.h"

#include <gtest/gtest.h>

#include <future>
#include <stdexcept>

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

}  // namespace
}  // namespace Client
}  // namespace Corvane

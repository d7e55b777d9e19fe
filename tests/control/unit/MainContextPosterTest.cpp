#include "control/MainContextPoster.h"
#include "platform/HandOff.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Corvane {
namespace Control {
namespace {

using namespace std::chrono_literals;

// How long a blocked iteration waits before the test looks again.
constexpr guint kPollMilliseconds = 5;
constexpr std::chrono::milliseconds kTimeout = 5s;

// A main context of the test's own, iterated by whichever thread the test
// chooses; never the process's default context.
class PrivateContext {
 public:
  PrivateContext() : context_(g_main_context_new()) {}
  ~PrivateContext() { g_main_context_unref(context_); }
  PrivateContext(const PrivateContext&) = delete;
  PrivateContext& operator=(const PrivateContext&) = delete;

  GMainContext* Get() const { return context_; }

  /// Dispatches what is ready now, without waiting; how many iterations
  /// dispatched something.
  int Drain() {
    int dispatched = 0;
    while (g_main_context_iteration(context_, FALSE)) ++dispatched;
    return dispatched;
  }

  /// Iterates on this thread until `condition` holds; false after `timeout`.
  bool IterateUntil(const std::function<bool()>& condition,
                    std::chrono::milliseconds timeout = kTimeout) {
    // A ticking source bounds each blocking iteration.
    GSource* tick = g_timeout_source_new(kPollMilliseconds);
    g_source_set_callback(tick, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr,
                          nullptr);
    g_source_attach(tick, context_);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    bool met = false;
    while (!(met = condition()) && std::chrono::steady_clock::now() < deadline) {
      g_main_context_iteration(context_, TRUE);
    }
    g_source_destroy(tick);
    g_source_unref(tick);
    return met;
  }

 private:
  GMainContext* context_;
};

// What was delivered, and on which thread.
class Deliveries {
 public:
  MainContextPoster::Deliver Recorder() {
    return [this](const Notification& notification) { Record(notification); };
  }
  void Record(const Notification& notification) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      notifications_.push_back(notification);
      threads_.push_back(std::this_thread::get_id());
    }
    changed_.notify_all();
  }
  std::size_t Count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return notifications_.size();
  }
  std::vector<Notification> Notifications() {
    std::lock_guard<std::mutex> lock(mutex_);
    return notifications_;
  }
  std::vector<std::thread::id> Threads() {
    std::lock_guard<std::mutex> lock(mutex_);
    return threads_;
  }
  /// Waits, without iterating, until `count` have been delivered elsewhere.
  bool WaitFor(std::size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, kTimeout, [&] { return notifications_.size() >= count; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Notification> notifications_;
  std::vector<std::thread::id> threads_;
};

Notification Message(int number) {
  return Notification{Notification::Kind::kMessageReceived, number,
                      L"<m n=\"" + std::to_wstring(number) + L"\"/>"};
}

// --- Delivery ---------------------------------------------------------------

TEST(MainContextPosterTest, DeliversOnlyWhenTheContextIsIterated) {
  PrivateContext context;
  Deliveries deliveries;
  MainContextPoster poster(context.Get(), deliveries.Recorder());

  poster.Post(Notification{Notification::Kind::kError, -70000, L"Gr\u00fc\u00dfe \U0001D11E"});
  poster.Post(Notification{Notification::Kind::kFileReceived, 0, L"/srv/files/a.bin"});

  EXPECT_EQ(deliveries.Count(), 0u);
  EXPECT_EQ(poster.GetPendingCount(), 2u);

  context.Drain();

  const auto delivered = deliveries.Notifications();
  ASSERT_EQ(delivered.size(), 2u);
  EXPECT_EQ(delivered[0].kind, Notification::Kind::kError);
  EXPECT_EQ(delivered[0].number, -70000);
  EXPECT_EQ(delivered[0].text, L"Gr\u00fc\u00dfe \U0001D11E");
  EXPECT_EQ(delivered[1].kind, Notification::Kind::kFileReceived);
  EXPECT_EQ(delivered[1].text, L"/srv/files/a.bin");
  EXPECT_EQ(poster.GetPendingCount(), 0u);
}

TEST(MainContextPosterTest, DeliversInOrderOnTheIteratingThread) {
  constexpr int kCount = 500;
  PrivateContext context;
  Deliveries deliveries;
  MainContextPoster poster(context.Get(), deliveries.Recorder());

  std::thread engine([&] {
    for (int i = 0; i < kCount; ++i) poster.Post(Message(i));
  });
  const std::thread::id engineThread = engine.get_id();
  // Iterated while the other thread posts.
  EXPECT_TRUE(context.IterateUntil([&] { return deliveries.Count() >= kCount; }));
  engine.join();
  context.Drain();

  const auto delivered = deliveries.Notifications();
  ASSERT_EQ(delivered.size(), static_cast<std::size_t>(kCount));
  for (int i = 0; i < kCount; ++i) {
    ASSERT_EQ(delivered[i].number, i);
    ASSERT_EQ(delivered[i].text, Message(i).text);
  }
  for (const auto& thread : deliveries.Threads()) {
    ASSERT_EQ(thread, std::this_thread::get_id());
    ASSERT_NE(thread, engineThread);
  }
}

TEST(MainContextPosterTest, PostingDuringADeliveryDoesNotDeliverAtOnce) {
  PrivateContext context;
  int depth = 0;
  int deepest = 0;
  std::vector<int> order;
  std::unique_ptr<MainContextPoster> poster;
  poster = std::make_unique<MainContextPoster>(context.Get(), [&](const Notification& n) {
    ++depth;
    deepest = std::max(deepest, depth);
    order.push_back(n.number);
    if (n.number == 1) poster->Post(Message(2));
    --depth;
  });

  poster->Post(Message(1));
  context.Drain();

  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  EXPECT_EQ(deepest, 1);
}

// --- Destruction ------------------------------------------------------------

TEST(MainContextPosterTest, DestructionFreesPendingNotificationsUndelivered) {
  PrivateContext context;
  Deliveries deliveries;
  // Every posted notification keeps the delivery function, and with it the
  // sentinel, alive: the sentinel expires only when all are freed.
  auto sentinel = std::make_shared<int>(0);
  std::weak_ptr<int> watch = sentinel;
  auto poster = std::make_unique<MainContextPoster>(
      context.Get(), [&deliveries, sentinel](const Notification& n) { deliveries.Record(n); });
  sentinel.reset();
  for (int i = 0; i < 3; ++i) poster->Post(Message(i));
  ASSERT_EQ(poster->GetPendingCount(), 3u);

  poster.reset();

  EXPECT_TRUE(watch.expired());
  EXPECT_EQ(context.Drain(), 0);
  EXPECT_FALSE(g_main_context_pending(context.Get()));
  EXPECT_EQ(deliveries.Count(), 0u);
}

TEST(MainContextPosterTest, DestructionFromInsideADeliveryStopsTheRest) {
  PrivateContext context;
  auto sentinel = std::make_shared<int>(0);
  std::weak_ptr<int> watch = sentinel;
  std::vector<int> delivered;
  std::unique_ptr<MainContextPoster> poster;
  poster = std::make_unique<MainContextPoster>(
      context.Get(), [&, sentinel](const Notification& n) {
        delivered.push_back(n.number);
        poster.reset();  // as a handler that destroys the control
      });
  sentinel.reset();
  for (int i = 0; i < 3; ++i) poster->Post(Message(i));

  context.Drain();

  EXPECT_EQ(delivered, (std::vector<int>{0}));
  EXPECT_EQ(poster, nullptr);
  EXPECT_TRUE(watch.expired());
  EXPECT_FALSE(g_main_context_pending(context.Get()));
}

// The host destroys the poster while an engine thread is still posting (the
// control serialises its last post with the destruction, as here) and another
// thread iterates the context: nothing is delivered once the destructor has
// returned, and every notification is freed.
TEST(MainContextPosterTest, DestructionWhileOtherThreadsPostAndDeliver) {
  constexpr int kPostLimit = 20000;
  constexpr std::size_t kDeliveredBeforeDestruction = 100;
  PrivateContext context;
  Deliveries deliveries;
  auto sentinel = std::make_shared<int>(0);
  std::weak_ptr<int> watch = sentinel;
  std::mutex posterMutex;
  auto poster = std::make_unique<MainContextPoster>(
      context.Get(), [&deliveries, sentinel](const Notification& n) { deliveries.Record(n); });
  sentinel.reset();

  std::atomic<bool> stopIterating{false};
  std::thread host([&] {
    while (!stopIterating) g_main_context_iteration(context.Get(), TRUE);
  });
  std::thread engine([&] {
    for (int i = 0; i < kPostLimit; ++i) {
      std::lock_guard<std::mutex> lock(posterMutex);
      if (!poster) return;
      poster->Post(Message(i));
    }
  });

  EXPECT_TRUE(deliveries.WaitFor(kDeliveredBeforeDestruction));
  std::size_t deliveredAtDestruction = 0;
  {
    std::lock_guard<std::mutex> lock(posterMutex);
    poster.reset();
    deliveredAtDestruction = deliveries.Count();
  }
  engine.join();

  // A source attached now at a lower priority runs only after every source
  // of the poster that could still run.
  std::promise<void> markerRan;
  std::future<void> markerDone = markerRan.get_future();
  GSource* marker = g_idle_source_new();
  g_source_set_callback(
      marker,
      [](gpointer data) -> gboolean {
        Platform::HandOffAcquired(data);
        static_cast<std::promise<void>*>(data)->set_value();
        return G_SOURCE_REMOVE;
      },
      &markerRan, nullptr);
  Platform::HandOffReleased(&markerRan);
  g_source_attach(marker, context.Get());
  g_source_unref(marker);
  EXPECT_EQ(markerDone.wait_for(kTimeout), std::future_status::ready);

  stopIterating = true;
  g_main_context_wakeup(context.Get());
  host.join();

  EXPECT_EQ(deliveries.Count(), deliveredAtDestruction);
  EXPECT_TRUE(watch.expired());
  // What was delivered came in order.
  const auto delivered = deliveries.Notifications();
  for (std::size_t i = 0; i < delivered.size(); ++i) {
    ASSERT_EQ(delivered[i].number, static_cast<int>(i));
  }
}

}  // namespace
}  // namespace Control
}  // namespace Corvane

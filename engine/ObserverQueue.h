#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "interface/QuellorObserver.h"

namespace Corvane {
namespace Client {

class ListenerSlot;

/// Tells the host's observer of applications coming and going, in the order
/// the engine saw them, on a thread of its own: never on the thread of a
/// host call (a removal may happen inside SendData or Stop), and never on
/// the I/O thread, which a slow observer would hold up.
///
/// Thread-safety: Post and Drain may be called from any thread. Post never
/// waits; news posted while no observer is set is dropped.
class ObserverQueue {
 public:
  using News = std::function<void(QuellorObserver&)>;

  explicit ObserverQueue(std::shared_ptr<ListenerSlot> slot);
  /// Tells what is queued (waiting at most kFinalWait), then stops the thread.
  ~ObserverQueue();
  ObserverQueue(const ObserverQueue&) = delete;
  ObserverQueue& operator=(const ObserverQueue&) = delete;

  /// How long the destructor waits for queued news to be told.
  static constexpr std::chrono::milliseconds kFinalWait{500};

  void Post(News news);
  /// Waits until everything posted so far has been told, or `wait` has
  /// passed; true when it has been told. From inside an observer callback it
  /// returns false at once.
  bool Drain(std::chrono::milliseconds wait);

 private:
  void Run();

  const std::shared_ptr<ListenerSlot> slot_;
  std::mutex mutex_;  // guards everything below
  std::condition_variable wake_;     // news, or stopping
  std::condition_variable drained_;  // the queue has emptied
  std::deque<News> queue_;
  bool telling_ = false;  // a callback is running
  bool stopping_ = false;
  std::thread thread_;  // started with the first news
};

}  // namespace Client
}  // namespace Corvane

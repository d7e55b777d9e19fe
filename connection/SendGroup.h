#pragma once
// Lets one thread wait for several transactions at once, such as the
// XMLDATA a fan-out writes to every application: each transaction reports
// once when its outcome is known, and the waiter wakes once, when all have.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace Corvane {
namespace Client {

/// Thread-safety: every member may be called from any thread.
class SendGroup {
 public:
  /// A group of `count` transactions.
  explicit SendGroup(std::size_t count);
  SendGroup(const SendGroup&) = delete;
  SendGroup& operator=(const SendGroup&) = delete;

  /// One transaction's outcome is known. Each calls this once.
  void OneSettled();

  /// Waits until every transaction has settled or `deadline` has passed;
  /// true when all have settled.
  bool WaitUntil(std::chrono::steady_clock::time_point deadline);

 private:
  std::mutex mutex_;
  std::condition_variable settled_;
  std::size_t remaining_;
};

}  // namespace Client
}  // namespace Corvane

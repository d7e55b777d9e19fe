#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "connection/ConnectionListener.h"

namespace Corvane {
namespace Testing {

/// Counts the ends a connection reports to the engine.
class CountingConnectionListener : public Client::ConnectionListener {
 public:
  void ConnectionClosed(std::shared_ptr<Client::Connection>) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++count_;
    }
    changed_.notify_all();
  }
  int Count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return count_;
  }
  bool WaitFor(int count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return count_ >= count; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int count_ = 0;
};

}  // namespace Testing
}  // namespace Corvane

#include "connection/SendGroup.h"

namespace Corvane {
namespace Client {

SendGroup::SendGroup(std::size_t count) : remaining_(count) {}

void SendGroup::OneSettled() {
  bool last = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (remaining_ > 0) last = --remaining_ == 0;
  }
  if (last) settled_.notify_all();
}

bool SendGroup::WaitUntil(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  return settled_.wait_until(lock, deadline, [this] { return remaining_ == 0; });
}

}  // namespace Client
}  // namespace Corvane

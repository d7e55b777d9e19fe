#include "engine/ObserverQueue.h"

#include <utility>

#include "connection/ListenerSlot.h"

namespace Corvane {
namespace Client {

ObserverQueue::ObserverQueue(std::shared_ptr<ListenerSlot> slot) : slot_(std::move(slot)) {}

ObserverQueue::~ObserverQueue() {
  Drain(kFinalWait);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    queue_.clear();
  }
  wake_.notify_all();
  if (thread_.joinable()) {
    if (thread_.get_id() == std::this_thread::get_id()) {
      thread_.detach();  // the last owner let go inside a callback
    } else {
      thread_.join();
    }
  }
}

void ObserverQueue::Post(News news) {
  if (!slot_->HasObserver()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return;
    queue_.push_back(std::move(news));
    if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
  }
  wake_.notify_one();
}

bool ObserverQueue::Drain(std::chrono::milliseconds wait) {
  if (ListenerSlot::IsInCallback()) return false;
  std::unique_lock<std::mutex> lock(mutex_);
  return drained_.wait_for(lock, wait, [this] { return queue_.empty() && !telling_; });
}

void ObserverQueue::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (stopping_) return;
    News news = std::move(queue_.front());
    queue_.pop_front();
    telling_ = true;
    lock.unlock();
    slot_->NotifyObserver(news);
    lock.lock();
    telling_ = false;
    if (queue_.empty()) drained_.notify_all();
  }
}

}  // namespace Client
}  // namespace Corvane

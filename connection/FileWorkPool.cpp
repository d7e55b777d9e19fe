#include "connection/FileWorkPool.h"

#include <exception>
#include <system_error>
#include <utility>

#include "errors/ExceptionText.h"
#include "logging/Logger.h"

namespace Corvane {
namespace Client {

using Logging::LogLevel;

FileWorkPool::FileWorkPool(std::size_t maxThreads, std::size_t maxWriters)
    : logger_(Logging::CreateLogger(L"Corvane::Client::FileWorkPool")),
      max_threads_(maxThreads < 1 ? 1 : maxThreads),
      max_writers_(maxWriters),
      state_(std::make_shared<State>()) {}

FileWorkPool::~FileWorkPool() { JoinAll(); }

FileWorkPool::Outcome FileWorkPool::Launch(std::function<void()> work,
                                           std::function<void()> onStartAfterWait) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (state_->closed) return Outcome::kRefused;
  state_->pending.push_back(Item{std::move(work), nullptr});
  // Every waiting item has a waiting thread to take it: this one runs now.
  if (state_->waiting_threads >= state_->pending.size()) {
    state_->wake.notify_one();
    return Outcome::kRunning;
  }
  if (threads_.size() < max_threads_) {
    try {
      // The thread holds what it needs itself: it may outlive this object
      // (JoinAll on one of its own threads).
      threads_.emplace_back([state = state_, logger = logger_] { Run(state, logger); });
      return Outcome::kRunning;
    } catch (const std::system_error&) {
      if (threads_.empty()) {
        state_->pending.pop_back();
        throw;
      }
      // The threads there are take it in turn.
    }
  }
  state_->pending.back().onStartAfterWait = std::move(onStartAfterWait);
  return Outcome::kWaiting;
}

void FileWorkPool::Run(const std::shared_ptr<State>& state,
                       const std::shared_ptr<Logging::Logger>& logger) {
  std::unique_lock<std::mutex> lock(state->mutex);
  for (;;) {
    ++state->waiting_threads;
    state->wake.wait(lock, [&] { return state->closed || !state->pending.empty(); });
    --state->waiting_threads;
    if (state->pending.empty()) return;  // closed, and nothing is left
    Item item = std::move(state->pending.front());
    state->pending.pop_front();
    ++state->active;
    lock.unlock();
    try {
      if (item.onStartAfterWait) item.onStartAfterWait();
      item.work();
    } catch (const std::exception& e) {
      logger->Log(LogLevel::Error, L"FileWorkPool: file work failed: %ls",
                  ExceptionText(e).c_str());
    } catch (...) {
      logger->Log(LogLevel::Error, L"FileWorkPool: file work failed");
    }
    // Whatever the work held (connection, message, writer) goes before the
    // thread takes more or the work counts as finished.
    item = Item{};
    lock.lock();
    --state->active;
    if (state->active == 0 && state->pending.empty()) state->idle.notify_all();
  }
}

void FileWorkPool::JoinAll() {
  std::vector<std::thread> all;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->closed = true;
    all.swap(threads_);
    state_->wake.notify_all();
  }
  for (auto& thread : all) {
    if (thread.get_id() == std::this_thread::get_id()) {
      thread.detach();  // the caller's own thread ends by itself
    } else {
      thread.join();
    }
  }
}

std::size_t FileWorkPool::RunningCount() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->active + state_->pending.size();
}

std::size_t FileWorkPool::ThreadCount() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return threads_.size();
}

bool FileWorkPool::WaitUntilIdle(std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(state_->mutex);
  return state_->idle.wait_for(
      lock, timeout, [&] { return state_->active == 0 && state_->pending.empty(); });
}

bool FileWorkPool::TakeWriterPlace() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (state_->writers >= max_writers_) return false;
  ++state_->writers;
  return true;
}

void FileWorkPool::ReturnWriterPlace() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (state_->writers > 0) --state_->writers;
}

}  // namespace Client
}  // namespace Corvane

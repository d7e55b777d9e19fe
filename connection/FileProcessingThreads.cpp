#include "connection/FileProcessingThreads.h"

#include <exception>
#include <utility>

#include "errors/ExceptionText.h"
#include "logging/Logger.h"
#include "platform/TextConversion.h"

namespace Corvane {
namespace Client {

using Logging::LogLevel;

FileProcessingThreads::FileProcessingThreads(std::size_t maxThreads)
    : logger_(Logging::CreateLogger(L"Corvane::Client::FileProcessingThreads")),
      max_threads_(maxThreads < 1 ? 1 : maxThreads),
      state_(std::make_shared<State>()) {}

FileProcessingThreads::~FileProcessingThreads() { JoinAll(); }

FileProcessingThreads::Outcome FileProcessingThreads::Launch(std::function<void()> work,
                                                            std::function<void()> onStartAfterWait) {
  std::list<Worker> done;
  Outcome outcome = Outcome::kRunning;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (state_->closed) return Outcome::kRefused;
    TakeFinished(done);
    if (RunningThreads() >= max_threads_) {
      // Every thread is busy: the work waits for the first to finish.
      state_->pending.push_back(Item{std::move(work), std::move(onStartAfterWait)});
      outcome = Outcome::kWaiting;
    } else {
      StartThread(Item{std::move(work), nullptr});
    }
  }
  JoinEach(done);
  return outcome;
}

void FileProcessingThreads::StartThread(Item first) {
  auto finished = std::make_shared<std::atomic<bool>>(false);
  // The thread holds what it needs itself: it may outlive this object (JoinAll
  // on one of its own threads). It takes waiting work until none is left.
  std::thread thread([item = std::move(first), finished, state = state_,
                      logger = logger_]() mutable {
    for (;;) {
      try {
        if (item.onStartAfterWait) item.onStartAfterWait();
        item.work();
      } catch (const std::exception& e) {
        logger->Log(LogLevel::Error, L"FileProcessingThreads: processing a file failed: %ls",
                    ExceptionText(e).c_str());
      } catch (...) {
        logger->Log(LogLevel::Error, L"FileProcessingThreads: processing a file failed");
      }
      // Whatever the work held (connection, message) goes before the thread
      // takes more or counts as finished.
      item = Item{};
      std::lock_guard<std::mutex> lock(state->mutex);
      if (state->pending.empty()) {
        finished->store(true);
        state->finished.notify_all();
        return;
      }
      item = std::move(state->pending.front());
      state->pending.pop_front();
    }
  });
  workers_.push_back(Worker{std::move(thread), std::move(finished)});
}

std::size_t FileProcessingThreads::RunningThreads() const {
  std::size_t running = 0;
  for (const auto& worker : workers_) running += !worker.finished->load();
  return running;
}

void FileProcessingThreads::JoinAll() {
  std::list<Worker> all;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->closed = true;
    all.swap(workers_);
  }
  JoinEach(all);
}

std::size_t FileProcessingThreads::RunningCount() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return RunningThreads() + state_->pending.size();
}

bool FileProcessingThreads::WaitUntilIdle(std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(state_->mutex);
  return state_->finished.wait_for(
      lock, timeout, [&] { return RunningThreads() == 0 && state_->pending.empty(); });
}

void FileProcessingThreads::TakeFinished(std::list<Worker>& done) {
  for (auto it = workers_.begin(); it != workers_.end();) {
    const auto next = std::next(it);
    if (it->finished->load()) done.splice(done.end(), workers_, it);
    it = next;
  }
}

void FileProcessingThreads::JoinEach(std::list<Worker>& workers) {
  for (auto& worker : workers) {
    if (!worker.thread.joinable()) continue;
    if (worker.thread.get_id() == std::this_thread::get_id()) {
      worker.thread.detach();  // the caller's own thread ends by itself
    } else {
      worker.thread.join();
    }
  }
}

}  // namespace Client
}  // namespace Corvane

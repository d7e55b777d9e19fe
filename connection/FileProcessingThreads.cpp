#include "connection/FileProcessingThreads.h"

#include <exception>
#include <utility>

#include "errors/ExceptionText.h"
#include "logging/Logger.h"
#include "platform/TextConversion.h"

namespace Corvane {
namespace Client {

using Logging::LogLevel;

FileProcessingThreads::FileProcessingThreads()
    : logger_(Logging::CreateLogger(L"Corvane::Client::FileProcessingThreads")) {}

FileProcessingThreads::~FileProcessingThreads() { JoinAll(); }

bool FileProcessingThreads::Launch(std::function<void()> work) {
  std::list<Worker> done;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return false;
    TakeFinished(done);
    auto finished = std::make_shared<std::atomic<bool>>(false);
    // The thread holds what it needs itself: it may outlive this object's
    // last reference (JoinAll on one of its own threads).
    std::thread thread([work = std::move(work), finished, logger = logger_]() mutable {
      try {
        work();
      } catch (const std::exception& e) {
        logger->Log(LogLevel::Error, L"FileProcessingThreads: processing a file failed: %ls",
                    ExceptionText(e).c_str());
      } catch (...) {
        logger->Log(LogLevel::Error, L"FileProcessingThreads: processing a file failed");
      }
      // Whatever the work held (connection, message) goes before the thread
      // counts as finished.
      work = nullptr;
      finished->store(true);
    });
    workers_.push_back(Worker{std::move(thread), std::move(finished)});
  }
  JoinEach(done);
  return true;
}

void FileProcessingThreads::JoinAll() {
  std::list<Worker> all;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    all.swap(workers_);
  }
  JoinEach(all);
}

std::size_t FileProcessingThreads::RunningCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::size_t running = 0;
  for (const auto& worker : workers_) running += !worker.finished->load();
  return running;
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

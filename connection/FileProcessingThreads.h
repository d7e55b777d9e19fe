#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

namespace Corvane {
namespace Logging {
class Logger;
}
namespace Client {

/// Checks and moves received files on a few threads of its own, and keeps
/// those threads, so that their owner can wait for every one of them before
/// the code they run goes away (the engine joins them when it is destroyed,
/// which happens before its library is unloaded).
///
/// At most `maxThreads` run at once, however many files arrive: further work
/// waits, in order, for the first thread to finish its own, which then takes
/// it. Nobody waits for a single thread: finished threads are joined the next
/// time work is launched, and JoinAll waits for the rest (and the work still
/// waiting).
///
/// Thread-safety: all members may be called from any thread.
class FileProcessingThreads {
 public:
  /// What Launch did with the work.
  enum class Outcome {
    kRunning,  // a thread of its own has started on it
    kWaiting,  // it waits for a thread; its onStartAfterWait runs first
    kRefused,  // JoinAll has been called: it will never run
  };

  static constexpr std::size_t kDefaultMaxThreads = 2;

  explicit FileProcessingThreads(std::size_t maxThreads = kDefaultMaxThreads);
  /// JoinAll.
  ~FileProcessingThreads();
  FileProcessingThreads(const FileProcessingThreads&) = delete;
  FileProcessingThreads& operator=(const FileProcessingThreads&) = delete;

  /// Runs `work` on a thread now, or once one is free (then
  /// `onStartAfterWait`, when given, runs on that thread just before it). An
  /// exception escaping either is logged and ends only that work. Throws
  /// std::system_error when no thread can be created. A thread never touches
  /// this object, so work may release the last reference to it.
  Outcome Launch(std::function<void()> work, std::function<void()> onStartAfterWait = nullptr);

  /// Refuses further work and waits for every thread launched so far, which
  /// first run the work still waiting. Called on one of its own threads, it
  /// waits for the others and leaves the calling thread to end by itself.
  /// Idempotent.
  void JoinAll();

  /// Work launched that has not finished yet, waiting work included.
  std::size_t RunningCount() const;

  /// Waits at most `timeout` until no work is left; true when none is.
  bool WaitUntilIdle(std::chrono::milliseconds timeout) const;

 private:
  struct Item {
    std::function<void()> work;
    std::function<void()> onStartAfterWait;
  };
  // What the threads share with this object, and keep when it is gone.
  struct State {
    std::mutex mutex;  // guards everything here and workers_
    std::condition_variable finished;  // a thread has finished its work
    std::list<Item> pending;
    bool closed = false;
  };
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> finished;
  };

  // Both require state_->mutex.
  void StartThread(Item first);
  std::size_t RunningThreads() const;
  // Moves the workers whose threads have finished into `done`. Requires
  // state_->mutex.
  void TakeFinished(std::list<Worker>& done);
  static void JoinEach(std::list<Worker>& workers);

  std::shared_ptr<Logging::Logger> logger_;
  const std::size_t max_threads_;
  const std::shared_ptr<State> state_;
  std::list<Worker> workers_;
};

}  // namespace Client
}  // namespace Corvane

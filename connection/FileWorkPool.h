#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace Corvane {
namespace Logging {
class Logger;
}
namespace Client {

/// The threads that do all the engine's file work: hashing and appending the
/// chunks of large files as they arrive (ChunkWriter), then checking each
/// received file and moving it into the file directory. The pool keeps its
/// threads so that their owner can wait for every one of them before the
/// code they run goes away (the engine joins them when it is destroyed, which
/// happens before its library is unloaded).
///
/// At most `maxThreads` threads exist, however many files arrive; they are
/// started as work first needs them and then wait for more until JoinAll.
/// Work beyond what the threads take at once waits, in order, for the first
/// thread to finish its own. Posting never waits.
///
/// Work must not wait for other work of the pool: with every thread waiting,
/// the work waited for would never run. (A file's check therefore starts only
/// once its writer is done, see ChunkWriter::ThenRun.)
///
/// The pool also hands out the writer places (see ChunkWriter): each writer
/// may hold a bounded queue of chunks, and the places bound the number of
/// writers, so the memory of the files being received is bounded too.
///
/// Thread-safety: all members may be called from any thread.
class FileWorkPool {
 public:
  /// What Launch did with the work.
  enum class Outcome {
    kRunning,  // a thread takes it at once
    kWaiting,  // it waits for a thread; its onStartAfterWait runs first
    kRefused,  // JoinAll has been called: it will never run
  };

  /// Threads at most: the one place that sizes the engine's file work.
  static constexpr std::size_t kDefaultMaxThreads = 4;
  /// Writers at once: peers that send many large files cost at most this
  /// many writers' queues; files beyond are written as they are read.
  static constexpr std::size_t kDefaultMaxWriters = 8;

  explicit FileWorkPool(std::size_t maxThreads = kDefaultMaxThreads,
                        std::size_t maxWriters = kDefaultMaxWriters);
  /// JoinAll.
  ~FileWorkPool();
  FileWorkPool(const FileWorkPool&) = delete;
  FileWorkPool& operator=(const FileWorkPool&) = delete;

  /// Runs `work` on a thread now, or once one is free (then
  /// `onStartAfterWait`, when given, runs on that thread just before it). An
  /// exception escaping either is logged and ends only that work. Throws
  /// std::system_error when no thread exists and none can be created. A
  /// thread never touches this object, so work may release the last
  /// reference to it.
  Outcome Launch(std::function<void()> work, std::function<void()> onStartAfterWait = nullptr);

  /// Refuses further work and waits for every thread, which first run the
  /// work still waiting. Called on one of its own threads, it waits for the
  /// others and leaves the calling thread to end by itself. Idempotent.
  void JoinAll();

  /// Work launched that has not finished yet, waiting work included.
  std::size_t RunningCount() const;
  /// Threads started so far (and not yet joined).
  std::size_t ThreadCount() const;

  /// Waits at most `timeout` until no work is left; true when none is.
  bool WaitUntilIdle(std::chrono::milliseconds timeout) const;

  /// Takes a writer place; false when every one is taken. Each place taken
  /// must be returned once.
  bool TakeWriterPlace();
  void ReturnWriterPlace();

 private:
  struct Item {
    std::function<void()> work;
    std::function<void()> onStartAfterWait;
  };
  // What the threads share with this object, and keep when it is gone.
  struct State {
    mutable std::mutex mutex;          // guards everything here and threads_
    std::condition_variable wake;      // work has come, or the pool closes
    mutable std::condition_variable idle;  // no work is left
    std::deque<Item> pending;
    std::size_t waiting_threads = 0;   // threads waiting for work
    std::size_t active = 0;            // work being run
    std::size_t writers = 0;           // writer places taken
    bool closed = false;
  };

  static void Run(const std::shared_ptr<State>& state,
                  const std::shared_ptr<Logging::Logger>& logger);

  const std::shared_ptr<Logging::Logger> logger_;
  const std::size_t max_threads_;
  const std::size_t max_writers_;
  const std::shared_ptr<State> state_;
  std::vector<std::thread> threads_;  // guarded by state_->mutex
};

}  // namespace Client
}  // namespace Corvane

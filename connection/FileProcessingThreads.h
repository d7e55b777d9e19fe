#pragma once

#include <atomic>
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

/// Runs the processing of each received file on a thread of its own and
/// keeps those threads, so that their owner can wait for every one of them
/// before the code they run goes away (the engine joins them when it is
/// destroyed, which happens before its library is unloaded).
///
/// Nobody waits for a single thread: finished threads are joined the next
/// time a thread is launched, and JoinAll waits for the rest.
///
/// Thread-safety: all members may be called from any thread.
class FileProcessingThreads {
 public:
  FileProcessingThreads();
  /// JoinAll.
  ~FileProcessingThreads();
  FileProcessingThreads(const FileProcessingThreads&) = delete;
  FileProcessingThreads& operator=(const FileProcessingThreads&) = delete;

  /// Starts `work` on a new thread and returns true; returns false, starting
  /// nothing, once JoinAll has been called. An exception escaping `work` is
  /// logged and ends only that thread. Throws std::system_error when no
  /// thread can be created. The thread never touches this object, so `work`
  /// may release the last reference to it.
  bool Launch(std::function<void()> work);

  /// Refuses further launches and waits for every thread launched so far.
  /// Called on one of its own threads, it waits for the others and leaves
  /// the calling thread to end by itself. Idempotent.
  void JoinAll();

  /// Threads launched whose work has not finished yet.
  std::size_t RunningCount() const;

 private:
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> finished;
  };

  // Moves the workers whose work has finished into `done`. Requires mutex_.
  void TakeFinished(std::list<Worker>& done);
  static void JoinEach(std::list<Worker>& workers);

  std::shared_ptr<Logging::Logger> logger_;
  mutable std::mutex mutex_;  // guards the two fields below
  std::list<Worker> workers_;
  bool closed_ = false;
};

}  // namespace Client
}  // namespace Corvane

#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include "engine/EngineSettings.h"

namespace Corvane {
namespace Client {

/// One run of the engine, from Start to the end of its service thread: the
/// settings it was started with, the I/O context its sockets and timers live
/// on, and the thread that runs it.
///
/// Every Start gets a fresh run, so a service thread still draining after a
/// Stop never runs handlers of the next run. Objects that live on the run's
/// I/O context hold it through GetIoContext's shared pointer, so it outlives
/// them whoever releases them last.
///
/// Thread-safety: all members may be called from any thread.
class BodyBudget;
class MulticastServer;

class ServiceRun {
 public:
  /// `bodyBudget` is shared by the run's connections (may be null).
  explicit ServiceRun(EngineSettings settings, std::shared_ptr<BodyBudget> bodyBudget = nullptr);
  /// Joins the service thread unless it is the calling thread.
  ~ServiceRun();
  ServiceRun(const ServiceRun&) = delete;
  ServiceRun& operator=(const ServiceRun&) = delete;

  const EngineSettings& GetSettings() const { return settings_; }
  /// The memory the run's connections together may hold for frames being read.
  const std::shared_ptr<BodyBudget>& GetBodyBudget() const { return body_budget_; }
  const std::shared_ptr<boost::asio::io_context>& GetIoContext() const { return io_context_; }

  /// Starts the service thread running `body`. Call once.
  void Launch(std::function<void()> body);
  /// True on the run's own service thread.
  bool IsServiceThread() const;

  /// Runs `step` unless Shutdown has been called, excluding Shutdown while it
  /// runs; returns whether it ran. The service thread installs its servers
  /// this way, so a Shutdown that comes first leaves nothing listening.
  bool RunUnlessShutDown(const std::function<void()>& step);
  /// Registers what Shutdown must do to stop a server installed by a step.
  /// Only to be called from inside a RunUnlessShutDown step.
  void OnShutdown(std::function<void()> action);
  /// Stops the run's servers and releases the I/O context's keep-alive, so the
  /// service thread ends once the remaining handlers have drained. Idempotent.
  void Shutdown();
  bool IsShutDown() const;

  /// The run's hailing sender, for IsHailing. Set from a RunUnlessShutDown step.
  void SetMulticastServer(std::shared_ptr<MulticastServer> server);
  /// True while the run's hailing sender reports hailing.
  bool IsHailing() const;

  /// Called by the service thread once its servers are listening, or have
  /// failed to. Idempotent.
  void MarkSetUp();
  /// Waits at most `timeout` for MarkSetUp; true when it came.
  bool WaitForSetUp(std::chrono::milliseconds timeout);

  /// Waits at most `timeout` for the service thread to end; true when it has.
  bool WaitForExit(std::chrono::milliseconds timeout);
  bool HasExited();
  /// Waits for the service thread to end; does nothing on the thread itself.
  void Join();

 private:
  const EngineSettings settings_;
  const std::shared_ptr<BodyBudget> body_budget_;
  const std::shared_ptr<boost::asio::io_context> io_context_;
  std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>>
      work_guard_;

  mutable std::mutex mutex_;  // guards the fields below up to the thread
  bool shut_down_ = false;
  std::shared_ptr<MulticastServer> multicast_server_;
  bool set_up_ = false;
  std::condition_variable set_up_changed_;
  std::vector<std::function<void()>> shutdown_actions_;

  std::thread thread_;
  std::promise<void> exited_;
  std::shared_future<void> exited_future_;
};

}  // namespace Client
}  // namespace Corvane

#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/EngineSettings.h"
#include "engine/ListenerSlot.h"
#include "engine/Quellor.h"

namespace Corvane {
namespace Logging {
class Logger;
}
namespace Client {

class ServiceRun;

/// The engine behind the Quellor interface: its settings, lifecycle and
/// service thread, and the lists of connected applications.
///
/// Host threads call the Quellor operations; one service thread per run
/// executes every asynchronous handler. Start and Stop are serialised; Stop
/// may also be called from the service thread (a listener callback, or the
/// run's own failure).
class Tarnlink : public Quellor {
 public:
  /// `moduleDirectory` is where the temporary directory and the default file
  /// directory live: the engine library's own directory in production.
  explicit Tarnlink(std::wstring moduleDirectory);
  Tarnlink();
  /// Stops the engine and waits until no service thread is left inside it.
  ~Tarnlink() override;
  Tarnlink(const Tarnlink&) = delete;
  Tarnlink& operator=(const Tarnlink&) = delete;

  std::wstring Register() override;
  void Unregister(const std::wstring& id) override;
  std::wstring GetConnectorType() override;
  void Start(const std::wstring& applicationId, const std::wstring& applicationName,
             const std::wstring& groupAddress, int groupPort, int serverPort, int hailingInterval,
             bool usingHailingServer, int ackTimeout, int healthCheckInterval, int filePort,
             const std::wstring& fileDirectory) override;
  void Stop() override;
  bool IsStarted() override;
  void SetListener(QuellorListener* listener) override;
  void ClearListener() override;
  bool IsHailing() override;
  void SendData(const std::wstring& xml) override;
  std::shared_ptr<ClientApplicationList> GetApplications() override;

  /// The settings as the last Start stored them (for diagnostics and tests;
  /// call from the thread that calls Start).
  const EngineSettings& GetSettings() const { return settings_; }
  /// The directory where file connections keep files until they are checked.
  std::wstring GetTempDirectory() const;

 private:
  void RunServiceThread(const std::shared_ptr<ServiceRun>& run);
  void ReportServiceFailure(const std::string& text);
  /// Stops `run` when it is still the current one, or the current run when
  /// `run` is null.
  void StopRun(const ServiceRun* run);
  void ClearTempDirectory();
  void StopConnections();
  void ClearConnections();
  /// Joins and drops retired runs whose threads have ended. Requires run_mutex_.
  void ReapFinishedRuns();

  const std::wstring module_directory_;
  std::shared_ptr<Logging::Logger> logger_;
  // Shared with every connection, so a listener change reaches them all.
  const std::shared_ptr<ListenerSlot> listener_ = std::make_shared<ListenerSlot>();
  std::atomic<bool> started_{false};

  std::mutex lifecycle_mutex_;  // serialises Start and Stop; held across Stop's bounded wait
  EngineSettings settings_;     // written by Start under lifecycle_mutex_; runs keep a copy

  std::mutex run_mutex_;  // guards current_run_ and retired_runs_; never held across a wait
  std::shared_ptr<ServiceRun> current_run_;
  std::vector<std::shared_ptr<ServiceRun>> retired_runs_;

  std::mutex applications_mutex_;  // guards both lists
  ClientApplicationList applications_;
  ClientApplicationList file_connections_;
};

}  // namespace Client
}  // namespace Corvane

#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "connection/ConnectionListener.h"
#include "connection/ConnectionSettings.h"
#include "connection/ListenerSlot.h"
#include "engine/ConnectionIntake.h"
#include "engine/ConnectionRegistry.h"
#include "engine/EngineLimits.h"
#include "engine/EngineSettings.h"
#include "engine/NetworkSettings.h"
#include "engine/ObserverQueue.h"
#include "engine/QuellorExtension.h"
#include "engine/XmlFanOut.h"
#include "interface/Quellor.h"

namespace Corvane {
namespace File {
class FileFactory;
class RunTempDirectory;
}
namespace Logging {
class Logger;
}
namespace Client {

class Connection;
class FileWorkPool;
class Socket;
class ServiceRun;
class XmlValidator;

/// The engine behind the Quellor interface: its settings, lifecycle and
/// service runs. Connections come in through its ConnectionIntake, are kept
/// by its ConnectionRegistry, and SendData reaches them through its
/// XmlFanOut.
///
/// Host threads call the Quellor operations; one service thread per run
/// executes every asynchronous handler (accepts, hailing, connection reads and
/// writes, health checks, posted removals). Start and Stop are serialised;
/// Stop may also be called from the service thread (a listener callback, or
/// the run's own failure). The service thread never waits on a lock that a
/// host thread holds across a network wait.
class Tarnlink : public Quellor, public QuellorExtension, public ConnectionListener {
 public:
  /// `moduleDirectory` is where the temporary directory and the default file
  /// directory live: the engine library's own directory in production.
  explicit Tarnlink(std::wstring moduleDirectory);
  /// Received files wait in temporary files from `fileFactory` until they
  /// are checked (by default, in the temporary directory under
  /// `moduleDirectory`).
  /// `runTemp`, when null, is this engine's own directory under the
  /// temporary directory beside `moduleDirectory`.
  Tarnlink(std::wstring moduleDirectory, std::shared_ptr<File::FileFactory> fileFactory,
           std::shared_ptr<File::RunTempDirectory> runTemp = nullptr);
  Tarnlink();
  /// Stops the engine and waits until no service thread and no file
  /// processing thread is left inside it.
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

  void SetObserver(QuellorObserver* observer) override;
  void ClearObserver() override;
  std::vector<SendOutcome> SendDataEach(const std::wstring& xml) override;
  std::vector<ApplicationHealth> GetApplicationHealth() override;

  /// Posts the removal of an ended connection to its service thread.
  void ConnectionClosed(std::shared_ptr<Connection> connection) override;

  /// The settings as the last Start stored them (for diagnostics and tests;
  /// call from the thread that calls Start).
  const EngineSettings& GetSettings() const { return settings_; }
  /// The directory where file connections keep files until they are checked.
  std::wstring GetTempDirectory() const;

 private:
  Tarnlink(std::wstring moduleDirectory, std::shared_ptr<File::RunTempDirectory> runTemp);
  // `hostAddress` is what the HAIL announces, resolved by Start;
  // `resolveFailure` is why it could not be, which ends the run.
  void RunServiceThread(const std::shared_ptr<ServiceRun>& run, const std::string& hostAddress,
                        const std::string& resolveFailure);
  void StartServers(const std::shared_ptr<ServiceRun>& run, const std::string& hostAddress,
                    const std::string& resolveFailure);
  void RemoveApplication(const std::shared_ptr<Connection>& connection);
  void ReportServiceFailure(const std::string& text);
  /// Stops `run` when it is still the current one, or the current run when
  /// `run` is null.
  void StopRun(const ServiceRun* run);
  void ClearTempDirectory();
  /// Joins and drops retired runs whose threads have ended. Requires run_mutex_.
  void ReapFinishedRuns();

  const std::wstring module_directory_;
  // This engine's own temporary directory, claimed at every Start.
  const std::shared_ptr<File::RunTempDirectory> run_temp_;
  std::shared_ptr<Logging::Logger> logger_;
  // Shared with every connection, so a listener change reaches them all.
  const std::shared_ptr<ListenerSlot> listener_ = std::make_shared<ListenerSlot>();
  // Tells the host's observer of applications coming and going.
  const std::shared_ptr<ObserverQueue> news_ = std::make_shared<ObserverQueue>(listener_);
  std::atomic<bool> started_{false};

  std::mutex lifecycle_mutex_;  // serialises Start and Stop; held across Stop's bounded wait
  EngineSettings settings_;     // written by Start under lifecycle_mutex_; runs keep a copy
  EngineLimits limits_;         // read by Start from engine.ini; each run's servers keep a copy
  NetworkSettings network_;     // likewise

  std::mutex run_mutex_;  // guards current_run_ and retired_runs_; never held across a wait
  std::shared_ptr<ServiceRun> current_run_;
  std::vector<std::shared_ptr<ServiceRun>> retired_runs_;

  const std::wstring language_;
  const std::shared_ptr<XmlValidator> validator_;
  // The threads that write and process received files; handed to every
  // connection and joined by the destructor, since they run this library's
  // code.
  const std::shared_ptr<FileWorkPool> file_threads_;
  const std::shared_ptr<File::FileFactory> file_factory_;

  ConnectionRegistry connections_;
  ConnectionIntake intake_;  // the acceptors and handshakes that feed connections_
  XmlFanOut fan_out_;        // SendData to connections_'s applications
};

}  // namespace Client
}  // namespace Corvane

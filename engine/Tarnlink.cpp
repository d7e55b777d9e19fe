#include "engine/Tarnlink.h"

#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>

#include <boost/asio/post.hpp>

#include "connection/Connection.h"
#include "connection/FileProcessingThreads.h"
#include "engine/EngineErrors.h"
#include "engine/MulticastServer.h"
#include "engine/ServiceRun.h"
#include "engine/SocketServer.h"
#include "errors/DescribeError.h"
#include "errors/ExceptionText.h"
#include "filestore/ProcessFileFactory.h"
#include "filestore/TempDirectory.h"
#include "logging/Logger.h"
#include "platform/MessageTable.h"
#include "platform/ModuleDirectory.h"
#include "platform/TextConversion.h"
#include "platform/UserLanguage.h"
#include "xml/XmlValidator.h"

namespace Corvane {
namespace Client {

using Logging::LogLevel;

namespace {

// How long Stop waits for the service thread before going on without it.
constexpr std::chrono::milliseconds kServiceThreadWait(500);
// How long Start waits for the service thread to open its ports, so that a
// host can connect as soon as Start returns.
constexpr std::chrono::milliseconds kSetUpWait(5000);

}  // namespace

Tarnlink::Tarnlink() : Tarnlink(Platform::EngineModuleDirectory()) {}

namespace {

// Static objects go in the reverse order of their making, and one made on
// first use goes before the engine, which the library makes at load. The
// engine joins its threads when it goes, so everything those threads reach
// that lives in a static is made here, before the engine is complete.
void MakeSharedStatics() {
  DescribeError(boost::system::error_code());  // its table and the error categories
  File::ProcessFileFactory();
  Platform::MessageTable::Engine();
}

}  // namespace

Tarnlink::Tarnlink(std::wstring moduleDirectory)
    : module_directory_(std::move(moduleDirectory)),
      logger_(Logging::CreateLogger(L"Corvane::Client::Tarnlink")),
      language_(Platform::UserLanguage()),
      validator_(std::make_shared<XmlValidator>(module_directory_ + L"/dtd")),
      file_threads_(std::make_shared<FileProcessingThreads>()) {
  MakeSharedStatics();
  settings_.FileDirectory = module_directory_ + L"/files";
}

Tarnlink::~Tarnlink() {
  Stop();
  // A thread still draining an earlier run may be inside this object's code:
  // wait for every one of them before anything is released.
  std::vector<std::shared_ptr<ServiceRun>> runs;
  {
    std::lock_guard<std::mutex> lock(run_mutex_);
    runs.swap(retired_runs_);
  }
  for (auto& run : runs) run->Join();
  // Only service threads start file processing, so none starts after this.
  file_threads_->JoinAll();
}

std::wstring Tarnlink::Register() {
  thread_local boost::uuids::random_generator generator;
  return Platform::FromUtf8(boost::uuids::to_string(generator()));
}

void Tarnlink::Unregister(const std::wstring& /*id*/) {}

std::wstring Tarnlink::GetConnectorType() { return L"Tarnlink"; }

std::wstring Tarnlink::GetTempDirectory() const {
  return Platform::FromUtf8(File::TempDirectoryPath(module_directory_));
}

void Tarnlink::Start(const std::wstring& applicationId, const std::wstring& applicationName,
                     const std::wstring& groupAddress, int groupPort, int serverPort,
                     int hailingInterval, bool usingHailingServer, int ackTimeout,
                     int healthCheckInterval, int filePort, const std::wstring& fileDirectory) {
  std::lock_guard<std::mutex> lifecycle(lifecycle_mutex_);
  if (IsStarted()) {
    logger_->Log(LogLevel::Debug, L"Tarnlink::Start already started");
    return;
  }
  try {
    settings_.Apply(applicationId, applicationName, groupAddress, groupPort, serverPort,
                    hailingInterval, usingHailingServer, ackTimeout, healthCheckInterval, filePort,
                    fileDirectory);
  } catch (const QuellorException& e) {
    logger_->Log(LogLevel::Info, L"Start failed.  Reason: %ls", e.GetMessage().c_str());
    throw;
  }

  logger_->Log(LogLevel::Debug, L"Tarnlink::Start clearing the temp directory");
  ClearTempDirectory();

  logger_->Log(LogLevel::Debug, L"Tarnlink::Start starting service thread");
  auto run = std::make_shared<ServiceRun>(settings_);
  {
    std::lock_guard<std::mutex> lock(run_mutex_);
    // A run that failed on its own is still current until a Stop or this
    // Start retires it.
    if (current_run_) retired_runs_.push_back(std::move(current_run_));
    ReapFinishedRuns();
    current_run_ = run;
  }
  started_ = true;
  run->Launch([this, run] { RunServiceThread(run); });
  run->WaitForSetUp(kSetUpWait);
  logger_->Log(LogLevel::Debug, L"Tarnlink::Start finished starting service thread");
}

void Tarnlink::ClearTempDirectory() {
  try {
    File::RemoveDirectoryTree(File::TempDirectoryPath(module_directory_));
  } catch (const std::exception& e) {
    logger_->Log(LogLevel::Info, L"Start could not clear the temp directory: %ls",
                 ExceptionText(e).c_str());
  }
}

void Tarnlink::RunServiceThread(const std::shared_ptr<ServiceRun>& run) {
  auto& io = *run->GetIoContext();
  try {
    StartServers(run);
    run->MarkSetUp();
    logger_->Log(LogLevel::Debug, L"Tarnlink::RunServiceThread starting io_service");
    logger_->Log(LogLevel::Info, L"Start - starting io_service");
    io.run();
    logger_->Log(LogLevel::Debug, L"Tarnlink::RunServiceThread complete");
  } catch (const std::exception& e) {
    run->MarkSetUp();
    ReportServiceFailure(e.what());
    StopRun(run.get());
  }
  // Handlers left over after a failure still run, so that every pending
  // operation completes and releases what it holds.
  for (;;) {
    try {
      io.run();
      break;
    } catch (const std::exception& e) {
      logger_->Log(LogLevel::Error, L"Tarnlink::RunServiceThread failed: %ls",
                   ExceptionText(e).c_str());
    }
  }
  std::lock_guard<std::mutex> lock(run_mutex_);
  if (current_run_ == run) started_ = false;
}

void Tarnlink::StartServers(const std::shared_ptr<ServiceRun>& run) {
  const EngineSettings& settings = run->GetSettings();
  const auto& io = run->GetIoContext();
  // Each server is installed only while the run is not shut down, and
  // registered for its Shutdown, so a Stop that comes during this set-up
  // leaves nothing listening or hailing.
  logger_->Log(LogLevel::Debug, L"Tarnlink::RunServiceThread starting multicast_server");
  if (settings.UsingHailingServer) {
    try {
      run->RunUnlessShutDown([&] {
        auto server = std::make_shared<MulticastServer>(
            io, settings.GroupAddress, settings.GroupPort, settings.ServerPort,
            settings.ApplicationName, settings.ApplicationId, settings.HailingInterval);
        server->Start();
        run->SetMulticastServer(server);
        run->OnShutdown([server] { server->Stop(); });
      });
    } catch (const std::exception& e) {
      logger_->Log(LogLevel::Error, L"Tarnlink::RunServiceThread setup multicast server failed: %ls",
                   ExceptionText(e).c_str());
      throw std::runtime_error(std::string("Could not start the multicast server: ") + e.what());
    }
  }
  for (const bool fileKind : {false, true}) {
    logger_->Log(LogLevel::Debug, fileKind ? L"Tarnlink::RunServiceThread starting file_server"
                                           : L"Tarnlink::RunServiceThread starting socket_server");
    const ServiceRun* runPointer = run.get();
    run->RunUnlessShutDown([&] {
      auto server = std::make_shared<SocketServer>(
          io, fileKind ? settings.FilePort : settings.ServerPort,
          [this, runPointer, fileKind] { return CreateConnection(*runPointer, fileKind); },
          [this, weakRun = std::weak_ptr<ServiceRun>(run)](
              const std::shared_ptr<Connection>& connection) {
            if (const auto currentRun = weakRun.lock()) HandleNewConnection(currentRun, connection);
          });
      server->Start();
      run->OnShutdown([server] { server->Stop(); });
    });
  }
}

std::shared_ptr<Connection> Tarnlink::CreateConnection(const ServiceRun& run, bool fileKind) {
  const EngineSettings& settings = run.GetSettings();
  ConnectionSettings connection;
  connection.engineApplicationId = settings.ApplicationId;
  connection.engineApplicationName = settings.ApplicationName;
  connection.language = language_;
  connection.ackTimeout = settings.AckTimeout;
  connection.healthCheckInterval = settings.HealthCheckInterval;
  connection.filePort = settings.FilePort;
  connection.fileDirectory = settings.FileDirectory;
  return std::make_shared<Connection>(run.GetIoContext(), listener_, this, std::move(connection),
                                      fileKind ? ConnectionKind::kFile : ConnectionKind::kStandard,
                                      file_threads_);
}

void Tarnlink::HandleNewConnection(const std::shared_ptr<ServiceRun>& run,
                                   const std::shared_ptr<Connection>& connection) {
  {
    std::lock_guard<std::mutex> lock(applications_mutex_);
    if (run->IsShutDown()) {
      connection->Stop(false);  // accepted as the engine stopped
      return;
    }
    handshaking_.push_back(connection);
  }
  // The handshake runs asynchronously; a slow peer holds up nobody else. The
  // handler holds the run only weakly: a run never keeps itself alive.
  connection->Start([this, weakRun = std::weak_ptr<ServiceRun>(run)](
                        const std::shared_ptr<Connection>& started,
                        const std::exception_ptr& failure) {
    if (const auto currentRun = weakRun.lock()) OnHandshakeDone(*currentRun, started, failure);
  });
}

void Tarnlink::OnHandshakeDone(const ServiceRun& run, const std::shared_ptr<Connection>& connection,
                               const std::exception_ptr& failure) {
  if (failure) {
    {
      std::lock_guard<std::mutex> lock(applications_mutex_);
      handshaking_.remove(connection);
    }
    if (run.IsShutDown()) return;  // cut short by the engine's own Stop
    std::wstring reason;
    try {
      std::rethrow_exception(failure);
    } catch (const std::exception& e) {
      reason = ExceptionText(e);
    }
    const std::wstring text = L"An attempted connection failed.  Error is \"" + reason + L"\"";
    listener_->Notify([&](QuellorListener& listener) { listener.OnError(kConnectionFailed, text); });
    logger_->Log(LogLevel::Error, L"%ls", text.c_str());
    return;  // released here: its destructor says DISCONNECT and closes
  }
  // One step under the lock, from the handshaking list into its own list,
  // so that a Stop's StopConnections finds the connection in one of them;
  // a Stop shuts the run down before that, so a later step sees it.
  std::lock_guard<std::mutex> lock(applications_mutex_);
  handshaking_.remove(connection);
  if (run.IsShutDown()) {
    connection->Stop(true);  // the engine stopped during the handshake
  } else if (connection->IsFileConnection()) {
    file_connections_.push_back(connection);
  } else {
    RemoveApplicationByClientId(connection->GetId());
    AddApplication(connection);
  }
}

void Tarnlink::AddApplication(const std::shared_ptr<Connection>& connection) {
  applications_.push_back(connection);
  logger_->Log(LogLevel::Info, L"Application %ls has connected.", connection->GetName().c_str());
}

void Tarnlink::RemoveApplicationByClientId(const std::wstring& id) {
  for (auto it = applications_.begin(); it != applications_.end(); ++it) {
    if ((*it)->GetId() != id) continue;
    try {
      // On the service thread Stop does not wait: the DISCONNECT goes out and
      // the stream closes behind it.
      (*it)->Stop(true);
    } catch (const std::exception& e) {
      logger_->Log(LogLevel::Debug,
                   L"RemoveApplicationByClientId::An attempt to stop a connection already in the "
                   L"list failed.  Error is \"%ls\"",
                   ExceptionText(e).c_str());
      return;
    }
    applications_.erase(it);
    return;
  }
}

void Tarnlink::ConnectionClosed(std::shared_ptr<Connection> connection) {
  auto io = connection->GetIoContext();
  boost::asio::post(*io, [this, connection = std::move(connection)] { RemoveApplication(connection); });
}

void Tarnlink::RemoveApplication(const std::shared_ptr<Connection>& connection) {
  std::lock_guard<std::mutex> lock(applications_mutex_);
  auto& list = connection->IsFileConnection() ? file_connections_ : applications_;
  const auto it = std::find(list.begin(), list.end(), connection);
  if (it == list.end()) {
    logger_->Log(LogLevel::Error, L"RemoveApplication: Connection not found in connection list");
    return;
  }
  logger_->Log(LogLevel::Info, L"Application %ls has disconnected.", connection->GetName().c_str());
  list.erase(it);
}

void Tarnlink::ReportServiceFailure(const std::string& text) {
  const std::wstring wide = Platform::FromUtf8(text);
  logger_->Log(LogLevel::Error, L"Tarnlink::RunServiceThread failed: %ls", wide.c_str());
  listener_->Notify([&](QuellorListener& listener) { listener.OnError(kServiceThreadFailed, wide); });
}

void Tarnlink::Stop() { StopRun(nullptr); }

void Tarnlink::StopRun(const ServiceRun* which) {
  std::lock_guard<std::mutex> lifecycle(lifecycle_mutex_);
  std::shared_ptr<ServiceRun> run;
  {
    std::lock_guard<std::mutex> lock(run_mutex_);
    run = current_run_;
  }
  // A run failing after the host has already stopped it (and perhaps started
  // another) has nothing left to stop.
  if (which && run.get() != which) return;
  logger_->Log(LogLevel::Debug, L"Stop - service_thread is %ls", run ? L"not null" : L"null");
  if (!run) return;

  // Acceptors and hailing first: no connection arrives while the others stop.
  run->Shutdown();
  StopConnections();
  logger_->Log(LogLevel::Info, L"Stop - Waiting for service_thread shutdown");
  if (!run->IsServiceThread()) run->WaitForExit(kServiceThreadWait);
  logger_->Log(LogLevel::Debug, L"Stop - Cleaning up");
  ClearConnections();
  {
    std::lock_guard<std::mutex> lock(run_mutex_);
    current_run_.reset();
    retired_runs_.push_back(std::move(run));
    ReapFinishedRuns();
  }
  started_ = false;
  logger_->Log(LogLevel::Info, L"Stop - Stop completed.");
}

void Tarnlink::ReapFinishedRuns() {
  for (auto it = retired_runs_.begin(); it != retired_runs_.end();) {
    if ((*it)->HasExited()) {
      (*it)->Join();
      it = retired_runs_.erase(it);
    } else {
      ++it;
    }
  }
}

void Tarnlink::StopConnections() {
  // Every DISCONNECT is queued and each stream closes behind its own, at the
  // latest after the acknowledgement timeout; Stop's bounded wait for the
  // service thread covers them all, so no single peer (one that stopped
  // reading, say) holds up Stop. Done outside the lock all the same.
  std::vector<std::shared_ptr<Connection>> connections;
  {
    std::lock_guard<std::mutex> lock(applications_mutex_);
    connections.insert(connections.end(), applications_.begin(), applications_.end());
    connections.insert(connections.end(), file_connections_.begin(), file_connections_.end());
    connections.insert(connections.end(), handshaking_.begin(), handshaking_.end());
  }
  for (const auto& connection : connections) connection->StopWithoutWaiting(true);
}

void Tarnlink::ClearConnections() {
  std::lock_guard<std::mutex> lock(applications_mutex_);
  applications_.clear();
  file_connections_.clear();
  handshaking_.clear();
}

bool Tarnlink::IsStarted() { return started_; }

void Tarnlink::SetListener(QuellorListener* listener) { listener_->Set(listener); }

void Tarnlink::ClearListener() { listener_->Clear(); }

bool Tarnlink::IsHailing() {
  std::lock_guard<std::mutex> lock(run_mutex_);
  return current_run_ && current_run_->IsHailing();
}

void Tarnlink::SendData(const std::wstring& xml) {
  std::lock_guard<std::mutex> fanOut(send_mutex_);
  std::vector<std::shared_ptr<Connection>> applications;
  {
    std::lock_guard<std::mutex> lock(applications_mutex_);
    applications.assign(applications_.begin(), applications_.end());
  }
  if (applications.empty()) {
    throw QuellorException(L"No applications currently connected", kNoApplications);
  }
  if (logger_->IsInfo()) {
    logger_->Log(LogLevel::Info, L"SendData: Sending message \"%ls\"", xml.c_str());
  }
  validator_->Validate(xml);

  bool delivered = false;
  std::vector<std::shared_ptr<Connection>> failed;
  for (const auto& connection : applications) {
    if (connection->SendData(xml)) {
      delivered = true;
    } else {
      connection->Stop(true);
      failed.push_back(connection);
    }
  }
  for (const auto& connection : failed) RemoveApplication(connection);
  if (!delivered) {
    logger_->Log(LogLevel::Error, L"Send message failed.");
    throw QuellorException(L"Failed to send message", kSendFailed);
  }
}

std::shared_ptr<ClientApplicationList> Tarnlink::GetApplications() {
  auto list = std::make_shared<ClientApplicationList>();
  std::lock_guard<std::mutex> lock(applications_mutex_);
  list->assign(applications_.begin(), applications_.end());
  return list;
}

}  // namespace Client
}  // namespace Corvane

#include "engine/Tarnlink.h"

#include <chrono>

#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>

#include <boost/asio/post.hpp>

#include "connection/BodyBudget.h"
#include "connection/Connection.h"
#include "connection/LinkHealth.h"
#include "connection/Socket.h"
#include "connection/FileWorkPool.h"
#include "connection/SpaceReservations.h"
#include "engine/MulticastServer.h"
#include "engine/ServiceRun.h"
#include "errors/DescribeError.h"
#include "errors/ExceptionText.h"
#include "filestore/FileDelivery.h"
#include "filestore/FileFactoryImpl.h"
#include "filestore/RunTempDirectory.h"
#include "filestore/TempDirectory.h"
#include "platform/UserDirectories.h"
#include "logging/Logger.h"
#include "platform/EngineError.h"
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
  File::FileDelivery::PrepareNameTable();
  Platform::MessageTable::Engine();
  SpaceReservations::Process();
}

}  // namespace

Tarnlink::Tarnlink(std::wstring moduleDirectory)
    : Tarnlink(moduleDirectory,
               std::make_shared<File::RunTempDirectory>(File::TempDirectoryPath(moduleDirectory))) {}

Tarnlink::Tarnlink(std::wstring moduleDirectory, std::shared_ptr<File::RunTempDirectory> runTemp)
    : Tarnlink(std::move(moduleDirectory),
               std::make_shared<File::FileFactoryImpl>(runTemp->GetPath()), runTemp) {}

Tarnlink::Tarnlink(std::wstring moduleDirectory, std::shared_ptr<File::FileFactory> fileFactory,
                   std::shared_ptr<File::RunTempDirectory> runTemp)
    : module_directory_(std::move(moduleDirectory)),
      run_temp_(runTemp ? std::move(runTemp)
                        : std::make_shared<File::RunTempDirectory>(
                              File::TempDirectoryPath(module_directory_))),
      logger_(Logging::CreateLogger(L"Corvane::Client::Tarnlink")),
      language_(Platform::UserLanguage()),
      validator_(std::make_shared<XmlValidator>(module_directory_ + L"/dtd")),
      file_threads_(std::make_shared<FileWorkPool>()),
      file_factory_(std::move(fileFactory)),
      intake_(connections_, listener_, this, language_, file_factory_, file_threads_),
      fan_out_(connections_, validator_) {
  MakeSharedStatics();
  connections_.SetObserverQueue(news_);
  settings_.FileDirectory = Platform::DefaultFileDirectory(module_directory_);
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
  } catch (const EngineError& e) {
    logger_->Log(LogLevel::Info, L"Start failed.  Reason: %ls", e.GetMessage().c_str());
    throw;
  }

  // Start clears temp/ beside the library: never in a directory that is not
  // known to be the library's own (the current one, say).
  if (module_directory_.empty() || module_directory_[0] != L'/') {
    const std::wstring text =
        L"The engine library's own directory could not be found (\"" + module_directory_ +
        L"\"); the engine does not start";
    logger_->Log(LogLevel::Error, L"%ls", text.c_str());
    throw EngineError(text, Errc::kNoModuleDirectory);
  }
  limits_ = EngineLimits::Read(module_directory_);
  connections_.SetLimits(limits_);
  std::wstring networkError;
  if (!NetworkSettings::Read(module_directory_, network_, networkError)) {
    const std::wstring text = L"engine.ini: " + networkError;
    logger_->Log(LogLevel::Error, L"Start failed.  Reason: %ls", text.c_str());
    throw EngineError(text, Errc::kServiceThreadFailed);
  }
  connections_.SetAccess(network_.access);

  // Other processes' engines may share temp/: keep to a directory of our
  // own, and take away only what no running engine owns.
  try {
    run_temp_->Claim();
  } catch (const std::exception& e) {
    logger_->Log(LogLevel::Error, L"Start could not claim a temporary directory: %ls",
                 ExceptionText(e).c_str());
  }
  // Files of the previous run still being checked own their temporary
  // files: give them a bounded while, and never clear under them.
  if (file_threads_->WaitUntilIdle(settings_.AckTimeout)) {
    logger_->Log(LogLevel::Debug, L"Tarnlink::Start clearing the temp directory");
    ClearTempDirectory();
  } else {
    logger_->Log(LogLevel::Info,
                 L"Start left the temp directory as it is: received files are still being checked");
  }

  // The name service may take its time: ask it here, on the host's thread,
  // never on the service thread that Stop and IsHailing wait for.
  std::string hostAddress;
  std::string resolveFailure;
  if (settings_.UsingHailingServer) {
    try {
      hostAddress = MulticastServer::ResolveHostAddress();
    } catch (const std::exception& e) {
      resolveFailure = e.what();
    }
  }

  logger_->Log(LogLevel::Debug, L"Tarnlink::Start starting service thread");
  auto run = std::make_shared<ServiceRun>(settings_,
                                          std::make_shared<BodyBudget>(limits_.maxBodyBytes));
  {
    std::lock_guard<std::mutex> lock(run_mutex_);
    // A run that failed on its own is still current until a Stop or this
    // Start retires it.
    if (current_run_) retired_runs_.push_back(std::move(current_run_));
    ReapFinishedRuns();
    current_run_ = run;
  }
  started_ = true;
  run->Launch([this, run, hostAddress, resolveFailure] {
    RunServiceThread(run, hostAddress, resolveFailure);
  });
  run->WaitForSetUp(kSetUpWait);
  logger_->Log(LogLevel::Debug, L"Tarnlink::Start finished starting service thread");
}

void Tarnlink::ClearTempDirectory() {
  try {
    run_temp_->Clear();
  } catch (const std::exception& e) {
    logger_->Log(LogLevel::Info, L"Start could not clear the temp directory: %ls",
                 ExceptionText(e).c_str());
  }
}

void Tarnlink::RunServiceThread(const std::shared_ptr<ServiceRun>& run,
                                const std::string& hostAddress,
                                const std::string& resolveFailure) {
  auto& io = *run->GetIoContext();
  try {
    StartServers(run, hostAddress, resolveFailure);
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

void Tarnlink::StartServers(const std::shared_ptr<ServiceRun>& run, const std::string& hostAddress,
                            const std::string& resolveFailure) {
  const EngineSettings& settings = run->GetSettings();
  const auto& io = run->GetIoContext();
  intake_.Listen(run, limits_, network_);
  // Hailing last: a peer that hears the first hail finds the ports listening.
  logger_->Log(LogLevel::Debug, L"Tarnlink::RunServiceThread starting multicast_server");
  if (settings.UsingHailingServer) {
    try {
      if (!resolveFailure.empty()) throw std::runtime_error(resolveFailure);
      run->RunUnlessShutDown([&] {
        auto server = std::make_shared<MulticastServer>(
            io, settings.GroupAddress, settings.GroupPort, settings.ServerPort,
            settings.ApplicationName, settings.ApplicationId, settings.HailingInterval,
            hostAddress, network_.hailInterfaces);
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
}

void Tarnlink::ConnectionClosed(std::shared_ptr<Connection> connection) {
  // Held weakly: a connection ended as its run drains may find the service
  // thread gone, and a handler that never runs must not keep the connection
  // (and with it the I/O context) alive. A listed connection is held by the
  // registry anyway.
  boost::asio::post(connection->GetSocket()->GetExecutor(),
                    [this, weak = std::weak_ptr<Connection>(connection)] {
                      if (const auto ended = weak.lock()) RemoveApplication(ended);
                    });
}

void Tarnlink::RemoveApplication(const std::shared_ptr<Connection>& connection) {
  if (!connections_.Remove(connection)) {
    // Ended by the engine itself, which had already let it go.
    logger_->Log(LogLevel::Debug, L"RemoveApplication: Connection not found in connection list");
  }
}

void Tarnlink::ReportServiceFailure(const std::string& text) {
  const std::wstring wide = Platform::FromUtf8(text);
  logger_->Log(LogLevel::Error, L"Tarnlink::RunServiceThread failed: %ls", wide.c_str());
  listener_->Notify([&](QuellorListener& listener) { listener.OnError(Platform::ToInt(Errc::kServiceThreadFailed), wide); });
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
  connections_.EndAll();
  logger_->Log(LogLevel::Info, L"Stop - Waiting for service_thread shutdown");
  if (!run->IsServiceThread()) run->WaitForExit(kServiceThreadWait);
  logger_->Log(LogLevel::Debug, L"Stop - Cleaning up");
  connections_.Clear();
  // The observer hears of every application's removal before Stop returns,
  // unless it is slow (or waits for the thread that called Stop).
  news_->Drain(kServiceThreadWait);
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

bool Tarnlink::IsStarted() { return started_; }

void Tarnlink::SetListener(QuellorListener* listener) { listener_->Set(listener); }

void Tarnlink::ClearListener() { listener_->Clear(); }

void Tarnlink::SetObserver(QuellorObserver* observer) { listener_->SetObserver(observer); }

void Tarnlink::ClearObserver() { listener_->ClearObserver(); }

std::vector<ApplicationHealth> Tarnlink::GetApplicationHealth() {
  std::vector<ApplicationHealth> health;
  for (const auto& connection : connections_.GetApplications()) {
    health.push_back(connection->GetHealth()->Snapshot(connection->GetInfo()));
  }
  return health;
}

bool Tarnlink::IsHailing() {
  std::lock_guard<std::mutex> lock(run_mutex_);
  return current_run_ && current_run_->IsHailing();
}

void Tarnlink::SendData(const std::wstring& xml) { fan_out_.SendData(xml); }

std::vector<SendOutcome> Tarnlink::SendDataEach(const std::wstring& xml) {
  return fan_out_.SendDataEach(xml);
}

std::shared_ptr<ClientApplicationList> Tarnlink::GetApplications() {
  const auto applications = connections_.GetApplications();
  return std::make_shared<ClientApplicationList>(applications.begin(), applications.end());
}

}  // namespace Client
}  // namespace Corvane

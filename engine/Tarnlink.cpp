#include "engine/Tarnlink.h"

#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>

#include "engine/EngineErrors.h"
#include "engine/ServiceRun.h"
#include "filestore/TempDirectory.h"
#include "logging/Logger.h"
#include "platform/ModuleDirectory.h"
#include "platform/TextConversion.h"

namespace Corvane {
namespace Client {

using Logging::LogLevel;

namespace {

// How long Stop waits for the service thread before going on without it.
constexpr std::chrono::milliseconds kServiceThreadWait(500);

}  // namespace

Tarnlink::Tarnlink() : Tarnlink(Platform::EngineModuleDirectory()) {}

Tarnlink::Tarnlink(std::wstring moduleDirectory)
    : module_directory_(std::move(moduleDirectory)),
      logger_(Logging::CreateLogger(L"Corvane::Client::Tarnlink")) {
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
  logger_->Log(LogLevel::Debug, L"Tarnlink::Start finished starting service thread");
}

void Tarnlink::ClearTempDirectory() {
  try {
    File::RemoveDirectoryTree(File::TempDirectoryPath(module_directory_));
  } catch (const std::exception& e) {
    logger_->Log(LogLevel::Info, L"Start could not clear the temp directory: %ls",
                 Platform::FromUtf8(e.what()).c_str());
  }
}

void Tarnlink::RunServiceThread(const std::shared_ptr<ServiceRun>& run) {
  auto& io = *run->GetIoContext();
  try {
    logger_->Log(LogLevel::Debug, L"Tarnlink::RunServiceThread starting multicast_server");
    logger_->Log(LogLevel::Debug, L"Tarnlink::RunServiceThread starting socket_server");
    logger_->Log(LogLevel::Debug, L"Tarnlink::RunServiceThread starting file_server");
    logger_->Log(LogLevel::Debug, L"Tarnlink::RunServiceThread starting io_service");
    logger_->Log(LogLevel::Info, L"Start - starting io_service");
    io.run();
    logger_->Log(LogLevel::Debug, L"Tarnlink::RunServiceThread complete");
  } catch (const std::exception& e) {
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
                   Platform::FromUtf8(e.what()).c_str());
    }
  }
  std::lock_guard<std::mutex> lock(run_mutex_);
  if (current_run_ == run) started_ = false;
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

  run->Shutdown();
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

void Tarnlink::ClearConnections() {
  std::lock_guard<std::mutex> lock(applications_mutex_);
  applications_.clear();
  file_connections_.clear();
}

bool Tarnlink::IsStarted() { return started_; }

void Tarnlink::SetListener(QuellorListener* listener) { listener_->Set(listener); }

void Tarnlink::ClearListener() { listener_->Clear(); }

bool Tarnlink::IsHailing() { return false; }

void Tarnlink::SendData(const std::wstring& /*xml*/) {
  std::lock_guard<std::mutex> lock(applications_mutex_);
  if (applications_.empty()) {
    throw QuellorException(L"No applications currently connected", kNoApplications);
  }
}

std::shared_ptr<ClientApplicationList> Tarnlink::GetApplications() {
  auto list = std::make_shared<ClientApplicationList>();
  std::lock_guard<std::mutex> lock(applications_mutex_);
  *list = applications_;
  return list;
}

}  // namespace Client
}  // namespace Corvane

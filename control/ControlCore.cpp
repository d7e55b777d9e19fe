#include "control/ControlCore.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "control/ObservableEngine.h"
#include "control/QuellorProxy.h"
#include "platform/TextConversion.h"

namespace Corvane {
namespace Control {

static_assert(ControlCore::kInternalFailure == QuellorProxy::kLoadFailure,
              "a failure of the control's own reads as a missing engine");

ControlCore::ControlCore(std::shared_ptr<Client::Quellor> engine, NotificationPoster& poster)
    : engine_(std::move(engine)), poster_(poster) {
  try {
    EngineEvents::Subscribe(engine_, this);
  } catch (...) {
    // Out of memory at most: the control then hears nothing from the engine.
  }
}

ControlCore::~ControlCore() {
  try {
    EngineEvents::Unsubscribe(engine_, this);
  } catch (...) {
  }
}

bool ControlCore::IsStarted() {
  try {
    return engine_->IsStarted();
  } catch (...) {
    // Any failure, the engine's own or another, reads as "no".
    return false;
  }
}

bool ControlCore::IsHailing() {
  try {
    return engine_->IsHailing();
  } catch (...) {
    // Any failure, the engine's own or another, reads as "no".
    return false;
  }
}

std::int16_t ControlCore::ToStatus(int code) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<unsigned>(code)));
}

template <typename Operation>
std::int16_t ControlCore::RunInto(std::wstring& error, Operation&& operation) {
  try {
    operation();
    return 0;
  } catch (const Client::QuellorException& e) {
    error = e.GetMessage();
    return ToStatus(e.GetCode());
  } catch (const std::exception& e) {
    // Nothing else may cross the host's C boundary: report it as the engine
    // reports what it cannot do.
    error = Platform::FromUtf8(e.what());
    return ToStatus(kInternalFailure);
  } catch (...) {
    // Not even a std::exception: letting it go would end the host process.
    error = kUnknownExceptionText;
    return ToStatus(kInternalFailure);
  }
}

template <typename Operation>
std::int16_t ControlCore::Run(Operation&& operation) {
  return RunInto(last_error_, std::forward<Operation>(operation));
}

std::int16_t ControlCore::Start(const std::wstring& clientId, const std::wstring& connectionName,
                                const std::wstring& groupAddress, int groupPort, int serverPort,
                                int hailingInterval, bool usingHailingServer, int ackTimeout,
                                int healthCheckInterval, int filePort,
                                const std::wstring& fileDirectory) {
  last_error_.clear();
  return Run([&] {
    engine_->Start(clientId, connectionName, groupAddress, groupPort, serverPort, hailingInterval,
                   usingHailingServer, ackTimeout, healthCheckInterval, filePort, fileDirectory);
  });
}

std::int16_t ControlCore::Stop() {
  last_error_.clear();
  return Run([&] { engine_->Stop(); });
}

std::int16_t ControlCore::Unregister(const std::wstring* clientId) {
  if (!clientId) return 0;
  last_error_.clear();
  return Run([&] { engine_->Unregister(*clientId); });
}

std::int16_t ControlCore::SendData(const std::wstring* xml) {
  last_error_.clear();
  return Run([&] { engine_->SendData(xml ? *xml : std::wstring()); });
}

std::wstring ControlCore::Register() {
  last_error_.clear();
  std::wstring id;
  Run([&] { id = engine_->Register(); });
  return id;
}

std::vector<ApplicationRecord> ControlCore::GetApplications() {
  std::vector<ApplicationRecord> records;
  const std::int16_t status = Run([&] {
    const auto list = engine_->GetApplications();
    if (!list) return;
    for (const auto& application : *list) {
      if (!application) continue;
      records.push_back({application->GetId(), application->GetName(), application->GetAddress(),
                         application->GetVersion()});
    }
  });
  if (status != 0) records.clear();
  return records;
}

std::int16_t ControlCore::SendDataEach(const std::wstring* xml,
                                       std::vector<Client::SendOutcome>& outcomes) {
  return Take(SendEach(engine_, xml), outcomes);
}

ControlCore::SendEachResult ControlCore::SendEach(const std::shared_ptr<Client::Quellor>& engine,
                                                  const std::wstring* xml) {
  SendEachResult result;
  result.status = RunInto(result.error, [&] {
    auto* observable = dynamic_cast<ObservableEngine*>(engine.get());
    if (!observable) {
      throw Client::QuellorException(L"The engine cannot send to each application.",
                                     kInternalFailure);
    }
    result.outcomes = observable->SendDataEach(xml ? *xml : std::wstring());
  });
  if (result.status != 0) {
    result.outcomes.clear();
    return result;
  }
  // A document its grammar refuses goes to nobody: the engine then gives
  // every application that code with the validity errors, and the call fails
  // as SendData does, the errors kept as the last error.
  const bool refused =
      !result.outcomes.empty() &&
      std::all_of(result.outcomes.begin(), result.outcomes.end(),
                  [](const auto& outcome) { return outcome.status == kInvalidDocument; });
  if (refused) {
    result.error = result.outcomes.front().message;
    result.status = ToStatus(kInvalidDocument);
  }
  return result;
}

std::int16_t ControlCore::Take(SendEachResult&& result,
                               std::vector<Client::SendOutcome>& outcomes) {
  last_error_ = std::move(result.error);
  outcomes = std::move(result.outcomes);
  return result.status;
}

bool ControlCore::GetApplicationHealth(std::vector<Client::ApplicationHealth>& health) {
  health.clear();
  try {
    auto* observable = dynamic_cast<ObservableEngine*>(engine_.get());
    if (!observable) return false;
    health = observable->GetApplicationHealth();
    return true;
  } catch (...) {
    health.clear();
    return false;
  }
}

bool ControlCore::IsObserving() const { return EngineEvents::IsObserving(engine_); }

void ControlCore::OnError(int code, const std::wstring& description) {
  Post(Notification::Kind::kError, code, description);
}

void ControlCore::OnMessageReceived(const std::wstring& xml) {
  Post(Notification::Kind::kMessageReceived, 0, xml);
}

void ControlCore::OnFileReceived(const std::wstring& path) {
  Post(Notification::Kind::kFileReceived, 0, path);
}

void ControlCore::OnApplicationAdded(const Client::ApplicationInfo& application) {
  Notification notification{Notification::Kind::kApplicationAdded};
  notification.application = application;
  Post(std::move(notification));
}

void ControlCore::OnApplicationRemoved(const Client::ApplicationInfo& application,
                                       Client::DepartureReason reason) {
  Notification notification{Notification::Kind::kApplicationRemoved};
  notification.application = application;
  notification.text = Client::DepartureReasonText(reason);
  Post(std::move(notification));
}

void ControlCore::OnFileProgress(const Client::FileProgress& progress) {
  Notification notification{Notification::Kind::kFileProgress};
  notification.application.id = progress.applicationId;
  notification.text = progress.fileName;
  notification.bytesReceived = progress.bytesReceived;
  notification.bytesAnnounced = progress.bytesAnnounced;
  Post(std::move(notification));
}

void ControlCore::OnConnectionRefused(const std::wstring& address, const std::wstring& reason,
                                      std::uint64_t refusedSoFar) {
  Notification notification{Notification::Kind::kConnectionRefused};
  notification.application.address = address;
  notification.text = reason;
  notification.refusedSoFar = refusedSoFar;
  Post(std::move(notification));
}

void ControlCore::Post(Notification::Kind kind, int number, const std::wstring& text) noexcept {
  try {
    Notification notification{kind};
    notification.number = number;
    notification.text = text;
    Post(std::move(notification));
  } catch (...) {
  }
}

void ControlCore::Post(Notification notification) noexcept {
  try {
    poster_.Post(std::move(notification));
  } catch (...) {
    // A notification that cannot be posted is dropped; the engine goes on.
  }
}

}  // namespace Control
}  // namespace Corvane

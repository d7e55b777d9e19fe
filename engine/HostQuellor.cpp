#include "engine/HostQuellor.h"

#include <utility>

#include "engine/ForHost.h"

namespace Corvane {
namespace Client {

HostQuellor::HostQuellor(std::unique_ptr<Quellor> engine) : engine_(std::move(engine)) {}

HostQuellor::~HostQuellor() = default;

std::wstring HostQuellor::Register() {
  return ForHost([&] { return engine_->Register(); });
}
void HostQuellor::Unregister(const std::wstring& id) {
  ForHost([&] { engine_->Unregister(id); });
}
std::wstring HostQuellor::GetConnectorType() {
  return ForHost([&] { return engine_->GetConnectorType(); });
}
void HostQuellor::Start(const std::wstring& applicationId, const std::wstring& applicationName,
                        const std::wstring& groupAddress, int groupPort, int serverPort,
                        int hailingInterval, bool usingHailingServer, int ackTimeout,
                        int healthCheckInterval, int filePort, const std::wstring& fileDirectory) {
  ForHost([&] {
    engine_->Start(applicationId, applicationName, groupAddress, groupPort, serverPort,
                   hailingInterval, usingHailingServer, ackTimeout, healthCheckInterval, filePort,
                   fileDirectory);
  });
}
void HostQuellor::Stop() {
  ForHost([&] { engine_->Stop(); });
}
bool HostQuellor::IsStarted() {
  return ForHost([&] { return engine_->IsStarted(); });
}
void HostQuellor::SetListener(QuellorListener* listener) {
  ForHost([&] { engine_->SetListener(listener); });
}
void HostQuellor::ClearListener() {
  ForHost([&] { engine_->ClearListener(); });
}
bool HostQuellor::IsHailing() {
  return ForHost([&] { return engine_->IsHailing(); });
}
void HostQuellor::SendData(const std::wstring& xml) {
  ForHost([&] { engine_->SendData(xml); });
}
std::shared_ptr<ClientApplicationList> HostQuellor::GetApplications() {
  return ForHost([&] { return engine_->GetApplications(); });
}


QuellorExtension& HostQuellor::Extension() {
  auto* extension = dynamic_cast<QuellorExtension*>(engine_.get());
  if (!extension) {
    throw QuellorException(L"The engine does not offer this operation",
                           Platform::ToInt(Errc::kNotImplemented));
  }
  return *extension;
}
void HostQuellor::SetObserver(QuellorObserver* observer) {
  ForHost([&] { Extension().SetObserver(observer); });
}
void HostQuellor::ClearObserver() {
  ForHost([&] { Extension().ClearObserver(); });
}
std::vector<SendOutcome> HostQuellor::SendDataEach(const std::wstring& xml) {
  return ForHost([&] { return Extension().SendDataEach(xml); });
}
std::vector<ApplicationHealth> HostQuellor::GetApplicationHealth() {
  return ForHost([&] { return Extension().GetApplicationHealth(); });
}

}  // namespace Client
}  // namespace Corvane

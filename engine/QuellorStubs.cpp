#include "engine/QuellorStubs.h"

#include "engine/ForHost.h"
#include "engine/QuellorExtension.h"

namespace Corvane {
namespace Client {
namespace QuellorStubs {

// A stub whose signature drifts from the one hosts call fails to compile here.
static_assert(std::is_same_v<decltype(&Register), QuellorMethods::Register>);
static_assert(std::is_same_v<decltype(&Unregister), QuellorMethods::Unregister>);
static_assert(std::is_same_v<decltype(&GetConnectorType), QuellorMethods::GetConnectorType>);
static_assert(std::is_same_v<decltype(&Start), QuellorMethods::Start>);
static_assert(std::is_same_v<decltype(&Stop), QuellorMethods::Stop>);
static_assert(std::is_same_v<decltype(&IsStarted), QuellorMethods::IsStarted>);
static_assert(std::is_same_v<decltype(&SetListener), QuellorMethods::SetListener>);
static_assert(std::is_same_v<decltype(&ClearListener), QuellorMethods::ClearListener>);
static_assert(std::is_same_v<decltype(&IsHailing), QuellorMethods::IsHailing>);
static_assert(std::is_same_v<decltype(&SendData), QuellorMethods::SendData>);
static_assert(std::is_same_v<decltype(&GetApplications), QuellorMethods::GetApplications>);
static_assert(std::is_same_v<decltype(&SetObserver), QuellorExtensionMethods::SetObserver>);
static_assert(std::is_same_v<decltype(&ClearObserver), QuellorExtensionMethods::ClearObserver>);
static_assert(std::is_same_v<decltype(&SendDataEach), QuellorExtensionMethods::SendDataEach>);
static_assert(
    std::is_same_v<decltype(&GetApplicationHealth), QuellorExtensionMethods::GetApplicationHealth>);

namespace {

// The extension of `engine`; throws -999 for an engine without it.
QuellorExtension& ExtensionOf(Quellor* engine) {
  auto* extension = dynamic_cast<QuellorExtension*>(engine);
  if (!extension) {
    throw QuellorException(L"The engine does not offer this operation",
                           Platform::ToInt(Errc::kNotImplemented));
  }
  return *extension;
}

}  // namespace

std::wstring Register(Quellor* engine) {
  return ForHost([&] { return engine->Register(); });
}
void Unregister(Quellor* engine, const std::wstring& id) {
  ForHost([&] { engine->Unregister(id); });
}
std::wstring GetConnectorType(Quellor* engine) {
  return ForHost([&] { return engine->GetConnectorType(); });
}
void Start(Quellor* engine, const std::wstring& applicationId, const std::wstring& applicationName,
           const std::wstring& groupAddress, int groupPort, int serverPort, int hailingInterval,
           bool usingHailingServer, int ackTimeout, int healthCheckInterval, int filePort,
           const std::wstring& fileDirectory) {
  ForHost([&] {
    engine->Start(applicationId, applicationName, groupAddress, groupPort, serverPort,
                  hailingInterval, usingHailingServer, ackTimeout, healthCheckInterval, filePort,
                  fileDirectory);
  });
}
void Stop(Quellor* engine) {
  ForHost([&] { engine->Stop(); });
}
bool IsStarted(Quellor* engine) {
  return ForHost([&] { return engine->IsStarted(); });
}
void SetListener(Quellor* engine, QuellorListener* listener) {
  ForHost([&] { engine->SetListener(listener); });
}
void ClearListener(Quellor* engine) {
  ForHost([&] { engine->ClearListener(); });
}
bool IsHailing(Quellor* engine) {
  return ForHost([&] { return engine->IsHailing(); });
}
void SendData(Quellor* engine, const std::wstring& xml) {
  ForHost([&] { engine->SendData(xml); });
}
std::shared_ptr<ClientApplicationList> GetApplications(Quellor* engine) {
  return ForHost([&] { return engine->GetApplications(); });
}

void SetObserver(Quellor* engine, QuellorObserver* observer) {
  ForHost([&] { ExtensionOf(engine).SetObserver(observer); });
}
void ClearObserver(Quellor* engine) {
  ForHost([&] { ExtensionOf(engine).ClearObserver(); });
}
std::vector<SendOutcome> SendDataEach(Quellor* engine, const std::wstring& xml) {
  return ForHost([&] { return ExtensionOf(engine).SendDataEach(xml); });
}
std::vector<ApplicationHealth> GetApplicationHealth(Quellor* engine) {
  return ForHost([&] { return ExtensionOf(engine).GetApplicationHealth(); });
}

}  // namespace QuellorStubs
}  // namespace Client
}  // namespace Corvane

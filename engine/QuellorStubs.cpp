#include "engine/QuellorStubs.h"

#include "engine/ForHost.h"

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

}  // namespace QuellorStubs
}  // namespace Client
}  // namespace Corvane

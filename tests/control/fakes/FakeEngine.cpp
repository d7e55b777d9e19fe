// A stand-in for the engine library, built in several variants that differ in
// which entry points they export (see tests/CMakeLists.txt):
//   FAKE_ENGINE_WITHOUT_GET_CONNECTOR  no GetConnector
//   FAKE_ENGINE_NULL_CONNECTOR         GetConnector returns null
//   FAKE_ENGINE_WITHOUT_SEND_DATA      no get_SendData_method
//   FAKE_ENGINE_WITHOUT_OBSERVER       none of the observer's exports
//                                      (get_SetObserver_method and the rest),
//                                      as an engine library built before them
// Its engine only records what it is asked (FakeEngineControl) and never
// touches the network.

#include <unistd.h>

#include <climits>

#include "tests/control/fakes/FakeEngineControl.h"

#define FAKE_ENGINE_EXPORT extern "C" __attribute__((visibility("default")))

namespace Corvane {
namespace Testing {
namespace {

using Client::ClientApplicationList;
using Client::Quellor;
using Client::QuellorListener;

FakeEngineControl control;

RecordingEngine engine(control.script);

// Counts the call of a get_<Method>_method export and returns `function`.
template <typename Function>
void* Hand(const char* method, Function* function) {
  ++control.getterCalls[method];
  return reinterpret_cast<void*>(function);
}

// The operations as the engine library's call stubs: engine pointer first.
std::wstring RegisterStub(Quellor* q) { return q->Register(); }
void UnregisterStub(Quellor* q, const std::wstring& id) { q->Unregister(id); }
std::wstring GetConnectorTypeStub(Quellor* q) { return q->GetConnectorType(); }
void StartStub(Quellor* q, const std::wstring& id, const std::wstring& name,
               const std::wstring& address, int groupPort, int serverPort, int hailingInterval,
               bool usingHailingServer, int ackTimeout, int healthCheckInterval, int filePort,
               const std::wstring& directory) {
  q->Start(id, name, address, groupPort, serverPort, hailingInterval, usingHailingServer,
           ackTimeout, healthCheckInterval, filePort, directory);
}
void StopStub(Quellor* q) { q->Stop(); }
bool IsStartedStub(Quellor* q) { return q->IsStarted(); }
void SetListenerStub(Quellor* q, QuellorListener* listener) { q->SetListener(listener); }
void ClearListenerStub(Quellor* q) { q->ClearListener(); }
bool IsHailingStub(Quellor* q) { return q->IsHailing(); }
[[maybe_unused]] void SendDataStub(Quellor* q, const std::wstring& xml) { q->SendData(xml); }
std::shared_ptr<ClientApplicationList> GetApplicationsStub(Quellor* q) {
  return q->GetApplications();
}
// The extension operations reach the recording engine through its own type.
[[maybe_unused]] void SetObserverStub(Quellor* q, Client::QuellorObserver* observer) {
  dynamic_cast<RecordingEngine&>(*q).SetObserver(observer);
}
[[maybe_unused]] void ClearObserverStub(Quellor* q) {
  dynamic_cast<RecordingEngine&>(*q).ClearObserver();
}
[[maybe_unused]] std::vector<Client::SendOutcome> SendDataEachStub(Quellor* q,
                                                                   const std::wstring& xml) {
  return dynamic_cast<RecordingEngine&>(*q).SendDataEach(xml);
}
[[maybe_unused]] std::vector<Client::ApplicationHealth> GetApplicationHealthStub(Quellor* q) {
  return dynamic_cast<RecordingEngine&>(*q).GetApplicationHealth();
}

}  // namespace
}  // namespace Testing
}  // namespace Corvane

using namespace Corvane::Testing;

FAKE_ENGINE_EXPORT FakeEngineControl* GetFakeEngineControl() { return &control; }

#if !defined(FAKE_ENGINE_WITHOUT_GET_CONNECTOR)
FAKE_ENGINE_EXPORT Corvane::Client::Quellor* GetConnector() {
  char directory[PATH_MAX];
  control.directoryAtGetConnector = ::getcwd(directory, sizeof directory) ? directory : "";
#if defined(FAKE_ENGINE_NULL_CONNECTOR)
  return nullptr;
#else
  return &engine;
#endif
}
#endif

FAKE_ENGINE_EXPORT void* get_Register_method() { return Hand("Register", &RegisterStub); }
FAKE_ENGINE_EXPORT void* get_Unregister_method() { return Hand("Unregister", &UnregisterStub); }
FAKE_ENGINE_EXPORT void* get_GetConnectorType_method() {
  return Hand("GetConnectorType", &GetConnectorTypeStub);
}
FAKE_ENGINE_EXPORT void* get_Start_method() { return Hand("Start", &StartStub); }
FAKE_ENGINE_EXPORT void* get_Stop_method() { return Hand("Stop", &StopStub); }
FAKE_ENGINE_EXPORT void* get_IsStarted_method() { return Hand("IsStarted", &IsStartedStub); }
FAKE_ENGINE_EXPORT void* get_SetListener_method() { return Hand("SetListener", &SetListenerStub); }
FAKE_ENGINE_EXPORT void* get_ClearListener_method() {
  return Hand("ClearListener", &ClearListenerStub);
}
FAKE_ENGINE_EXPORT void* get_IsHailing_method() { return Hand("IsHailing", &IsHailingStub); }
#if !defined(FAKE_ENGINE_WITHOUT_SEND_DATA)
FAKE_ENGINE_EXPORT void* get_SendData_method() { return Hand("SendData", &SendDataStub); }
#endif
FAKE_ENGINE_EXPORT void* get_GetApplications_method() {
  return Hand("GetApplications", &GetApplicationsStub);
}
#if !defined(FAKE_ENGINE_WITHOUT_OBSERVER)
FAKE_ENGINE_EXPORT void* get_SetObserver_method() { return Hand("SetObserver", &SetObserverStub); }
FAKE_ENGINE_EXPORT void* get_ClearObserver_method() {
  return Hand("ClearObserver", &ClearObserverStub);
}
FAKE_ENGINE_EXPORT void* get_SendDataEach_method() {
  return Hand("SendDataEach", &SendDataEachStub);
}
FAKE_ENGINE_EXPORT void* get_GetApplicationHealth_method() {
  return Hand("GetApplicationHealth", &GetApplicationHealthStub);
}
#endif

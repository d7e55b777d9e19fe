// The engine library's C entry points. GetConnector hands out the one engine;
// each get_<Method>_method returns the address of the stub that calls that
// operation on an engine pointer. Hosts call the addresses as the function
// types of Corvane::Client::QuellorMethods.

#include "engine/QuellorStubs.h"
#include "engine/TarnlinkApp.h"

#define QUELLOR_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

Corvane::Client::TarnlinkApp application;

template <typename Function>
void* AddressOf(Function* function) {
  return reinterpret_cast<void*>(function);
}

}  // namespace

using namespace Corvane::Client;

QUELLOR_EXPORT Quellor* GetConnector() { return application.GetQuellor(); }

QUELLOR_EXPORT void* get_Register_method() { return AddressOf(&QuellorStubs::Register); }
QUELLOR_EXPORT void* get_Unregister_method() { return AddressOf(&QuellorStubs::Unregister); }
QUELLOR_EXPORT void* get_GetConnectorType_method() {
  return AddressOf(&QuellorStubs::GetConnectorType);
}
QUELLOR_EXPORT void* get_Start_method() { return AddressOf(&QuellorStubs::Start); }
QUELLOR_EXPORT void* get_Stop_method() { return AddressOf(&QuellorStubs::Stop); }
QUELLOR_EXPORT void* get_IsStarted_method() { return AddressOf(&QuellorStubs::IsStarted); }
QUELLOR_EXPORT void* get_SetListener_method() { return AddressOf(&QuellorStubs::SetListener); }
QUELLOR_EXPORT void* get_ClearListener_method() { return AddressOf(&QuellorStubs::ClearListener); }
QUELLOR_EXPORT void* get_IsHailing_method() { return AddressOf(&QuellorStubs::IsHailing); }
QUELLOR_EXPORT void* get_SendData_method() { return AddressOf(&QuellorStubs::SendData); }
QUELLOR_EXPORT void* get_GetApplications_method() {
  return AddressOf(&QuellorStubs::GetApplications);
}

// Beside the interface: the observer, the send with an outcome per
// application, and link health.
QUELLOR_EXPORT void* get_SetObserver_method() { return AddressOf(&QuellorStubs::SetObserver); }
QUELLOR_EXPORT void* get_ClearObserver_method() { return AddressOf(&QuellorStubs::ClearObserver); }
QUELLOR_EXPORT void* get_SendDataEach_method() { return AddressOf(&QuellorStubs::SendDataEach); }
QUELLOR_EXPORT void* get_GetApplicationHealth_method() {
  return AddressOf(&QuellorStubs::GetApplicationHealth);
}

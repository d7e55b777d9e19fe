#pragma once
// Dispatch stubs behind the get_<Method>_method exports: each takes the engine
// pointer first, then the operation's arguments, and calls the operation
// through the engine's virtual table. Their types are those of QuellorMethods.

#include "interface/Quellor.h"

namespace Corvane {
namespace Client {
namespace QuellorStubs {

std::wstring Register(Quellor* engine);
void Unregister(Quellor* engine, const std::wstring& id);
std::wstring GetConnectorType(Quellor* engine);
void Start(Quellor* engine, const std::wstring& applicationId, const std::wstring& applicationName,
           const std::wstring& groupAddress, int groupPort, int serverPort, int hailingInterval,
           bool usingHailingServer, int ackTimeout, int healthCheckInterval, int filePort,
           const std::wstring& fileDirectory);
void Stop(Quellor* engine);
bool IsStarted(Quellor* engine);
void SetListener(Quellor* engine, QuellorListener* listener);
void ClearListener(Quellor* engine);
bool IsHailing(Quellor* engine);
void SendData(Quellor* engine, const std::wstring& xml);
std::shared_ptr<ClientApplicationList> GetApplications(Quellor* engine);

}  // namespace QuellorStubs
}  // namespace Client
}  // namespace Corvane

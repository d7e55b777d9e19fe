#pragma once
// Dispatch stubs behind the get_<Method>_method exports: each takes the engine
// pointer first, then the operation's arguments, and calls the operation
// through the engine's virtual table. Their types are those of QuellorMethods.

#include <vector>

#include "interface/Quellor.h"
#include "interface/QuellorObserver.h"

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

// The operations beside the interface (see QuellorExtension). An engine
// pointer that does not offer them gives -999.
void SetObserver(Quellor* engine, QuellorObserver* observer);
void ClearObserver(Quellor* engine);
std::vector<SendOutcome> SendDataEach(Quellor* engine, const std::wstring& xml);
std::vector<ApplicationHealth> GetApplicationHealth(Quellor* engine);

}  // namespace QuellorStubs
}  // namespace Client
}  // namespace Corvane

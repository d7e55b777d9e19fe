#include "engine/ConnectionRegistry.h"

#include <algorithm>

#include "connection/Connection.h"
#include "engine/ServiceRun.h"
#include "logging/Logger.h"
#include "platform/TextConversion.h"

namespace Corvane {
namespace Client {

using Logging::LogLevel;

ConnectionRegistry::ConnectionRegistry()
    : logger_(Logging::CreateLogger(L"Corvane::Client::Tarnlink")) {}

ConnectionRegistry::~ConnectionRegistry() = default;

void ConnectionRegistry::SetLimits(const EngineLimits& limits) {
  std::lock_guard<std::mutex> lock(mutex_);
  limits_ = limits;
}

bool ConnectionRegistry::AddHandshaking(const std::shared_ptr<Connection>& connection,
                                        const std::string& address, const ServiceRun& run) {
  std::lock_guard<std::mutex> lock(mutex_);
  const char* refused = nullptr;
  if (run.IsShutDown()) {
    refused = "";  // accepted as the engine stopped
  } else if (static_cast<int>(addresses_.size()) >= limits_.maxConnections) {
    refused = "MaxConnections";
  } else if (per_address_[address] >= limits_.maxConnectionsPerAddress) {
    refused = "MaxConnectionsPerAddress";
  }
  if (refused) {
    if (*refused) LogRefusal(address, refused);
    connection->End(Farewell::kNone);
    return false;
  }
  addresses_[connection.get()] = address;
  ++per_address_[address];
  handshaking_.push_back(connection);
  return true;
}

void ConnectionRegistry::LogRefusal(const std::string& address, const char* cap) {
  const auto now = std::chrono::steady_clock::now();
  const auto last = refusals_logged_.find(address);
  if (last != refusals_logged_.end() && now - last->second < limits_.refusalLogInterval) return;
  refusals_logged_[address] = now;
  logger_->Log(LogLevel::Error,
               L"Refused a connection from %ls: the %ls limit of engine.ini is reached (further "
               L"refusals of this address are not logged for a while)",
               Platform::FromUtf8(address).c_str(), Platform::FromUtf8(cap).c_str());
}

void ConnectionRegistry::Forget(const Connection* connection) {
  const auto it = addresses_.find(connection);
  if (it == addresses_.end()) return;
  const auto count = per_address_.find(it->second);
  if (count != per_address_.end() && --count->second <= 0) per_address_.erase(count);
  addresses_.erase(it);
}

void ConnectionRegistry::OnHandshakeFailed(const std::shared_ptr<Connection>& connection) {
  std::lock_guard<std::mutex> lock(mutex_);
  handshaking_.remove(connection);
  Forget(connection.get());
}

void ConnectionRegistry::OnHandshakeDone(const std::shared_ptr<Connection>& connection,
                                         const ServiceRun& run) {
  // One step under the lock, from the handshaking list into its own list, so
  // that EndAll finds the connection in one of them.
  std::lock_guard<std::mutex> lock(mutex_);
  handshaking_.remove(connection);
  if (run.IsShutDown()) {
    Forget(connection.get());
    connection->End(Farewell::kDisconnect);  // the engine stopped during the handshake
    return;
  }
  if (connection->IsFileConnection()) {
    file_connections_.push_back(connection);
    return;
  }
  // One connection per application: a reconnecting application replaces its
  // old connection, which is told DISCONNECT.
  const auto old = std::find_if(applications_.begin(), applications_.end(),
                                [&](const auto& listed) { return listed->GetId() == connection->GetId(); });
  if (old != applications_.end()) {
    const std::shared_ptr<Connection> replaced = *old;
    applications_.erase(old);
    Forget(replaced.get());
    replaced->End(Farewell::kDisconnect);
  }
  applications_.push_back(connection);
  logger_->Log(LogLevel::Info, L"Application %ls has connected.", connection->GetName().c_str());
}

bool ConnectionRegistry::Remove(const std::shared_ptr<Connection>& connection) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto& list = connection->IsFileConnection() ? file_connections_ : applications_;
  const auto it = std::find(list.begin(), list.end(), connection);
  if (it == list.end()) return false;
  logger_->Log(LogLevel::Info, L"Application %ls has disconnected.", connection->GetName().c_str());
  list.erase(it);
  Forget(connection.get());
  return true;
}

std::vector<std::shared_ptr<Connection>> ConnectionRegistry::GetApplications() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return {applications_.begin(), applications_.end()};
}

void ConnectionRegistry::EndAll() {
  std::vector<std::shared_ptr<Connection>> connections;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    connections.insert(connections.end(), applications_.begin(), applications_.end());
    connections.insert(connections.end(), file_connections_.begin(), file_connections_.end());
    connections.insert(connections.end(), handshaking_.begin(), handshaking_.end());
  }
  // Every DISCONNECT is queued and each stream closes behind its own, at the
  // latest after the acknowledgement timeout: no single peer (one that
  // stopped reading, say) holds up the others.
  for (const auto& connection : connections) connection->End(Farewell::kDisconnect);
}

void ConnectionRegistry::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  applications_.clear();
  file_connections_.clear();
  handshaking_.clear();
  addresses_.clear();
  per_address_.clear();
}

}  // namespace Client
}  // namespace Corvane

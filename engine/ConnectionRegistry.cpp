#include "engine/ConnectionRegistry.h"

#include <algorithm>

#include "connection/Connection.h"
#include "engine/ServiceRun.h"
#include "logging/Logger.h"

namespace Corvane {
namespace Client {

using Logging::LogLevel;

ConnectionRegistry::ConnectionRegistry()
    : logger_(Logging::CreateLogger(L"Corvane::Client::Tarnlink")) {}

ConnectionRegistry::~ConnectionRegistry() = default;

bool ConnectionRegistry::AddHandshaking(const std::shared_ptr<Connection>& connection,
                                        const ServiceRun& run) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (run.IsShutDown()) {
    connection->End(Farewell::kNone);  // accepted as the engine stopped
    return false;
  }
  handshaking_.push_back(connection);
  return true;
}

void ConnectionRegistry::OnHandshakeFailed(const std::shared_ptr<Connection>& connection) {
  std::lock_guard<std::mutex> lock(mutex_);
  handshaking_.remove(connection);
}

void ConnectionRegistry::OnHandshakeDone(const std::shared_ptr<Connection>& connection,
                                         const ServiceRun& run) {
  // One step under the lock, from the handshaking list into its own list, so
  // that EndAll finds the connection in one of them.
  std::lock_guard<std::mutex> lock(mutex_);
  handshaking_.remove(connection);
  if (run.IsShutDown()) {
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
}

}  // namespace Client
}  // namespace Corvane

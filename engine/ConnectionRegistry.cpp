#include "engine/ConnectionRegistry.h"

#include <algorithm>

#include "connection/Connection.h"
#include "engine/ObserverQueue.h"
#include "engine/ServiceRun.h"
#include "logging/Logger.h"
#include "platform/TextConversion.h"

namespace Corvane {
namespace Client {

using Logging::LogLevel;

ConnectionRegistry::ConnectionRegistry()
    : logger_(Logging::CreateLogger(L"Corvane::Client::Tarnlink")),
      refusal_log_(std::make_unique<Logging::ReportLimiter>(1, limits_.refusalLogInterval)) {}

ConnectionRegistry::~ConnectionRegistry() = default;

void ConnectionRegistry::SetLimits(const EngineLimits& limits) {
  std::lock_guard<std::mutex> lock(mutex_);
  // A new interval starts a new limiter; an unchanged one keeps what it has
  // logged, so that a restart does not log every refused address again.
  if (limits.refusalLogInterval != limits_.refusalLogInterval) {
    refusal_log_ = std::make_unique<Logging::ReportLimiter>(1, limits.refusalLogInterval);
  }
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
  handshaking_.emplace(connection.get(), connection);
  return true;
}

void ConnectionRegistry::SetObserverQueue(std::shared_ptr<ObserverQueue> news) {
  std::lock_guard<std::mutex> lock(mutex_);
  news_ = std::move(news);
}

void ConnectionRegistry::TellAdded(Connection& connection) {
  if (!news_) return;
  news_->Post([info = connection.GetInfo()](QuellorObserver& observer) {
    observer.OnApplicationAdded(info);
  });
}

void ConnectionRegistry::TellRemoved(Connection& connection, DepartureReason reason) {
  if (!news_) return;
  news_->Post([info = connection.GetInfo(), reason](QuellorObserver& observer) {
    observer.OnApplicationRemoved(info, reason);
  });
}

void ConnectionRegistry::TellRefused(const std::string& address, std::wstring reason) {
  if (!news_) return;
  news_->Post([address = Platform::FromUtf8(address), reason = std::move(reason),
               count = refused_count_.load()](QuellorObserver& observer) {
    observer.OnConnectionRefused(address, reason, count);
  });
}

void ConnectionRegistry::SetAccess(std::shared_ptr<const AccessPolicy> access) {
  std::lock_guard<std::mutex> lock(mutex_);
  access_ = std::move(access);
}

bool ConnectionRegistry::Admits(const std::string& address) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!access_ || access_->AllowsAddress(address)) return true;
  ++refused_count_;
  if (ShouldLogRefusal(address)) {
    logger_->Log(LogLevel::Warning, L"Connection from %ls refused: not in AllowedNetworks",
                 Platform::FromUtf8(address).c_str());
    TellRefused(address, L"not in AllowedNetworks");
  }
  return false;
}

void ConnectionRegistry::OnApplicationRefused(const std::shared_ptr<Connection>& connection) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++refused_count_;
  const auto found = addresses_.find(connection.get());
  const std::string address = found == addresses_.end() ? std::string() : found->second;
  if (ShouldLogRefusal(address)) {
    logger_->Log(LogLevel::Warning,
                 L"Connection from %ls refused: application id %ls not in AllowedApplicationIds",
                 Platform::FromUtf8(address).c_str(), connection->GetId().c_str());
    TellRefused(address, L"application id " + connection->GetId() + L" not in AllowedApplicationIds");
  }
}

std::string ConnectionRegistry::AddressOf(const Connection& connection) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = addresses_.find(&connection);
  return found == addresses_.end() ? std::string() : found->second;
}

std::shared_ptr<const AccessPolicy> ConnectionRegistry::GetAccess() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return access_;
}

bool ConnectionRegistry::ShouldLogRefusal(const std::string& address) {
  return refusal_log_->Note(address) == Logging::ReportLimiter::Verdict::kReport;
}

void ConnectionRegistry::LogRefusal(const std::string& address, const char* cap) {
  if (!ShouldLogRefusal(address)) return;
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

bool ConnectionRegistry::Unlist(List& list, Places& places, const Connection* connection) {
  const auto place = places.find(connection);
  if (place == places.end()) return false;
  list.erase(place->second);
  places.erase(place);
  return true;
}

void ConnectionRegistry::OnHandshakeFailed(const std::shared_ptr<Connection>& connection) {
  std::lock_guard<std::mutex> lock(mutex_);
  handshaking_.erase(connection.get());
  Forget(connection.get());
}

void ConnectionRegistry::OnHandshakeDone(const std::shared_ptr<Connection>& connection,
                                         const ServiceRun& run) {
  // One step under the lock, from the handshaking list into its own list, so
  // that EndAll finds the connection in one of them.
  std::lock_guard<std::mutex> lock(mutex_);
  handshaking_.erase(connection.get());
  if (run.IsShutDown()) {
    Forget(connection.get());
    // The engine stopped during the handshake.
    connection->End(Farewell::kDisconnect, DepartureReason::kEngineStopped);
    return;
  }
  if (connection->IsFileConnection()) {
    // The application's files count in its link health.
    const auto application = applications_by_id_.find(connection->GetId());
    if (application != applications_by_id_.end()) {
      connection->ShareHealth((*application->second)->GetHealth());
    }
    file_connections_.push_back(connection);
    file_places_[connection.get()] = std::prev(file_connections_.end());
    return;
  }
  // One connection per application: a reconnecting application replaces its
  // old connection, which is told DISCONNECT.
  std::wstring id = connection->GetId();
  const auto old = applications_by_id_.find(id);
  if (old != applications_by_id_.end()) {
    const std::shared_ptr<Connection> replaced = *old->second;
    applications_by_id_.erase(old);
    Unlist(applications_, application_places_, replaced.get());
    Forget(replaced.get());
    replaced->End(Farewell::kDisconnect, DepartureReason::kReplaced);
    TellRemoved(*replaced, DepartureReason::kReplaced);
  }
  applications_.push_back(connection);
  const auto place = std::prev(applications_.end());
  application_places_[connection.get()] = place;
  applications_by_id_[std::move(id)] = place;
  logger_->Log(LogLevel::Info, L"Application %ls has connected.", connection->GetName().c_str());
  TellAdded(*connection);
}

bool ConnectionRegistry::Remove(const std::shared_ptr<Connection>& connection) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (connection->IsFileConnection()) {
    if (!Unlist(file_connections_, file_places_, connection.get())) return false;
  } else {
    const auto place = application_places_.find(connection.get());
    if (place == application_places_.end()) return false;
    const auto byId = applications_by_id_.find(connection->GetId());
    if (byId != applications_by_id_.end() && byId->second == place->second) {
      applications_by_id_.erase(byId);
    }
    Unlist(applications_, application_places_, connection.get());
    TellRemoved(*connection, connection->GetEndReason());
  }
  logger_->Log(LogLevel::Info, L"Application %ls has disconnected.", connection->GetName().c_str());
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
    for (const auto& handshaking : handshaking_) connections.push_back(handshaking.second);
  }
  // Every DISCONNECT is queued and each stream closes behind its own, at the
  // latest after the acknowledgement timeout: no single peer (one that
  // stopped reading, say) holds up the others.
  for (const auto& connection : connections) {
    connection->End(Farewell::kDisconnect, DepartureReason::kEngineStopped);
  }
}

void ConnectionRegistry::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& application : applications_) {
    TellRemoved(*application, DepartureReason::kEngineStopped);
  }
  applications_.clear();
  application_places_.clear();
  applications_by_id_.clear();
  file_connections_.clear();
  file_places_.clear();
  handshaking_.clear();
  addresses_.clear();
  per_address_.clear();
}

}  // namespace Client
}  // namespace Corvane

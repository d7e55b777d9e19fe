#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "connection/AccessPolicy.h"
#include "engine/EngineLimits.h"
#include "interface/QuellorObserver.h"
#include "logging/ReportLimiter.h"

namespace Corvane {
namespace Logging {
class Logger;
}
namespace Client {

class Connection;
class ObserverQueue;
class ServiceRun;

/// The engine's connections: those accepted whose handshake is still
/// running, the registered applications (standard connections, one per
/// application id) and the file connections.
///
/// Every step that adds a connection checks, under the registry's lock,
/// whether the run it belongs to has been shut down, and ends it instead; a
/// Stop shuts the run down before it calls EndAll, so each connection is
/// either ended by EndAll or sees the shutdown itself.
///
/// Every step is a constant-time lookup, however many thousand connections
/// there are; only GetApplications copies the list.
///
/// Thread-safety: all members may be called from any thread. The lock is held
/// only while the lists change or are copied; ending a connection never waits.
class ConnectionRegistry {
 public:
  ConnectionRegistry();
  ~ConnectionRegistry();
  ConnectionRegistry(const ConnectionRegistry&) = delete;
  ConnectionRegistry& operator=(const ConnectionRegistry&) = delete;

  /// The caps AddHandshaking applies from now on.
  void SetLimits(const EngineLimits& limits);
  /// Where the host's observer hears of applications added and removed,
  /// and of refusals, from now on.
  void SetObserverQueue(std::shared_ptr<ObserverQueue> news);
  /// Whom Admits lets in from now on.
  void SetAccess(std::shared_ptr<const AccessPolicy> access);

  /// Whether a connection from `address` may be served at all (the site's
  /// AllowedNetworks). A refusal is counted and logged once per address and
  /// interval. Any thread.
  bool Admits(const std::string& address);
  /// Connections refused by the site's access lists since the engine was made.
  std::uint64_t GetRefusedCount() const { return refused_count_; }
  /// Counts and logs (once per address and interval) a CONNECT refused for
  /// its application id.
  /// Call before OnHandshakeFailed.
  void OnApplicationRefused(const std::shared_ptr<Connection>& connection);
  /// The peer address of a connection still listed (handshaking ones too);
  /// empty when it is not.
  std::string AddressOf(const Connection& connection) const;
  /// The access lists in force.
  std::shared_ptr<const AccessPolicy> GetAccess() const;

  /// An accepted connection from `address` whose handshake is about to start.
  /// Returns false, ending it without a farewell, when `run` has been shut
  /// down or the connection would pass a cap (all connections, or those from
  /// one address); a refusal is logged once per address and interval.
  bool AddHandshaking(const std::shared_ptr<Connection>& connection, const std::string& address,
                      const ServiceRun& run);
  /// The handshake has failed: the connection is forgotten.
  void OnHandshakeFailed(const std::shared_ptr<Connection>& connection);
  /// The handshake has succeeded: a file connection joins the file
  /// connections; a standard one ends and replaces the application of the
  /// same id, if any. Should `run` have been shut down meanwhile, the
  /// connection is ended with a DISCONNECT instead.
  void OnHandshakeDone(const std::shared_ptr<Connection>& connection, const ServiceRun& run);
  /// Forgets a connection that has ended. Returns false when it was not
  /// listed (the engine had already let it go).
  bool Remove(const std::shared_ptr<Connection>& connection);

  /// The registered applications, in the order they registered.
  std::vector<std::shared_ptr<Connection>> GetApplications() const;

  /// Ends every connection with a DISCONNECT; they stay listed until Clear.
  void EndAll();
  /// Forgets every connection.
  void Clear();

 private:
  // Queue news for the host's observer. Require mutex_, so that the news
  // keeps the order of the changes.
  void TellAdded(Connection& connection);
  void TellRemoved(Connection& connection, DepartureReason reason);
  void TellRefused(const std::string& address, std::wstring reason);
  // Drops the connection's count. Requires mutex_.
  void Forget(const Connection* connection);
  // Logs a refusal unless one from `address` was logged within the interval.
  // Requires mutex_.
  void LogRefusal(const std::string& address, const char* cap);
  // True when a refusal of `address` was not logged within the interval, and
  // notes that it is now. Requires mutex_.
  bool ShouldLogRefusal(const std::string& address);

  using List = std::list<std::shared_ptr<Connection>>;
  // Where each connection of a list stands in it.
  using Places = std::unordered_map<const Connection*, List::iterator>;

  // Takes `connection` out of `list` if it stands there. Requires mutex_.
  bool Unlist(List& list, Places& places, const Connection* connection);

  std::shared_ptr<Logging::Logger> logger_;
  mutable std::mutex mutex_;  // guards everything below
  EngineLimits limits_;
  std::shared_ptr<const AccessPolicy> access_;
  std::shared_ptr<ObserverQueue> news_;
  std::atomic<std::uint64_t> refused_count_{0};
  // The address of every listed connection, and how many each address holds.
  std::unordered_map<const Connection*, std::string> addresses_;
  std::unordered_map<std::string, int> per_address_;
  // Refusals logged: once per address and refusal interval.
  std::unique_ptr<Logging::ReportLimiter> refusal_log_;
  List applications_;  // in the order they registered
  Places application_places_;
  std::unordered_map<std::wstring, List::iterator> applications_by_id_;
  List file_connections_;
  Places file_places_;
  std::unordered_map<const Connection*, std::shared_ptr<Connection>> handshaking_;
};

}  // namespace Client
}  // namespace Corvane

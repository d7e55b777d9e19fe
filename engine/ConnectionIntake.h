#pragma once

#include <chrono>
#include <exception>
#include <memory>
#include <string>

#include "connection/ConnectionSettings.h"
#include "engine/EngineLimits.h"
#include "engine/NetworkSettings.h"
#include "logging/ReportLimiter.h"

namespace Corvane {
namespace File {
class FileFactory;
}
namespace Logging {
class Logger;
}
namespace Client {

class Connection;
class ConnectionListener;
class ConnectionRegistry;
class FileWorkPool;
class ListenerSlot;
class ServiceRun;
class Socket;

/// How connections come into the engine: the acceptors on both ports, the
/// checks before anything is read (the registry's caps and the site's
/// addresses), the handshake, and the reports of handshakes that failed.
/// A connection whose handshake succeeds joins the registry's applications.
///
/// Everything but the constructor runs on a run's service thread.
class ConnectionIntake {
 public:
  /// `closed` hears when an accepted connection ends (the engine, which
  /// removes it). Everything referred to must outlive every run that
  /// Listen starts.
  ConnectionIntake(ConnectionRegistry& connections, std::shared_ptr<ListenerSlot> listener,
                   ConnectionListener* closed, std::wstring language,
                   std::shared_ptr<File::FileFactory> fileFactory,
                   std::shared_ptr<FileWorkPool> fileThreads);
  ConnectionIntake(const ConnectionIntake&) = delete;
  ConnectionIntake& operator=(const ConnectionIntake&) = delete;

  /// Opens the standard and the file port on every address `network` lists
  /// (or all addresses) for `run`, each server stopped by the run's
  /// Shutdown. Throws when a port cannot be opened, naming it.
  void Listen(const std::shared_ptr<ServiceRun>& run, const EngineLimits& limits,
              const NetworkSettings& network);

 private:
  // What every connection of `run` on the `kind` port is told of the
  // engine: made once per run and port.
  std::shared_ptr<const ConnectionSettings> SettingsFor(const ServiceRun& run, ConnectionKind kind,
                                                        const EngineLimits& limits) const;
  void OnAccepted(const std::shared_ptr<ServiceRun>& run, ConnectionKind kind,
                  const std::shared_ptr<const ConnectionSettings>& settings,
                  std::shared_ptr<Socket> socket, const std::string& address);
  void OnHandshakeDone(const ServiceRun& run, const std::shared_ptr<Connection>& connection,
                       const std::exception_ptr& failure);
  // Tells the host of a failed handshake, a few times per address and
  // second at most (then once with the count).
  void ReportFailedHandshake(const ServiceRun& run, const std::string& address,
                             const std::wstring& text);

  ConnectionRegistry& connections_;
  const std::shared_ptr<ListenerSlot> listener_;
  ConnectionListener* const closed_;
  const std::wstring language_;
  const std::shared_ptr<File::FileFactory> file_factory_;
  const std::shared_ptr<FileWorkPool> file_threads_;
  const std::shared_ptr<Logging::Logger> logger_;
  // Failed handshakes reported to the host: three per address and second.
  const std::shared_ptr<Logging::ReportLimiter> handshake_reports_ =
      std::make_shared<Logging::ReportLimiter>(3, std::chrono::seconds(1));
};

}  // namespace Client
}  // namespace Corvane

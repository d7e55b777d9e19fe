#include "engine/ConnectionIntake.h"

#include <stdexcept>

#include <boost/asio/steady_timer.hpp>

#include "connection/BoostSocket.h"
#include "connection/Connection.h"
#include "connection/ListenerSlot.h"
#include "engine/ConnectionRegistry.h"
#include "engine/ServiceRun.h"
#include "engine/SocketServer.h"
#include "errors/ExceptionText.h"
#include "logging/Logger.h"
#include "platform/ErrorCode.h"
#include "platform/TextConversion.h"

namespace Corvane {
namespace Client {

using Logging::LogLevel;

ConnectionIntake::ConnectionIntake(ConnectionRegistry& connections,
                                   std::shared_ptr<ListenerSlot> listener,
                                   ConnectionListener* closed, std::wstring language,
                                   std::shared_ptr<File::FileFactory> fileFactory,
                                   std::shared_ptr<FileWorkPool> fileThreads)
    : connections_(connections),
      listener_(std::move(listener)),
      closed_(closed),
      language_(std::move(language)),
      file_factory_(std::move(fileFactory)),
      file_threads_(std::move(fileThreads)),
      // The engine's own logger: the lines are the engine's.
      logger_(Logging::CreateLogger(L"Corvane::Client::Tarnlink")) {}

void ConnectionIntake::Listen(const std::shared_ptr<ServiceRun>& run, const EngineLimits& limits,
                              const NetworkSettings& network) {
  const EngineSettings& settings = run->GetSettings();
  const auto& io = run->GetIoContext();
  // Each server is installed only while the run is not shut down, and
  // registered for its Shutdown, so a Stop that comes during this set-up
  // leaves nothing listening.
  for (const ConnectionKind kind : {ConnectionKind::kStandard, ConnectionKind::kFile}) {
    const bool fileKind = kind == ConnectionKind::kFile;
    logger_->Log(LogLevel::Debug, fileKind ? L"Tarnlink::RunServiceThread starting file_server"
                                           : L"Tarnlink::RunServiceThread starting socket_server");
    const std::shared_ptr<const ConnectionSettings> connectionSettings =
        SettingsFor(*run, kind, limits);
    // Every address the site listed, or all of them at once.
    std::vector<std::string> listenAddresses = network.listenAddresses;
    if (listenAddresses.empty()) listenAddresses.emplace_back();
    for (const std::string& listenAddress : listenAddresses) {
      run->RunUnlessShutDown([&] {
        auto server = std::make_shared<SocketServer>(
            io, fileKind ? settings.FilePort : settings.ServerPort,
            [this, kind, connectionSettings, maxQueuedBytes = limits.maxQueuedBytes,
             weakRun = std::weak_ptr<ServiceRun>(run)](
                boost::asio::ip::tcp::socket stream) {
              const auto currentRun = weakRun.lock();
              if (!currentRun) return;
              boost::system::error_code error;
              const std::string address = stream.remote_endpoint(error).address().to_string();
              // Refused before anything is read or written.
              if (!connections_.Admits(address)) return;
              auto socket = std::make_shared<BoostSocket>(std::move(stream));
              socket->LimitWrites(maxQueuedBytes, connectionSettings->ackTimeout);
              OnAccepted(currentRun, kind, connectionSettings, std::move(socket), address);
            },
            listenAddress);
        // The failure names the port (and address) it concerns: a host shows
        // the text as it is.
        try {
          server->Start();
        } catch (const std::exception& e) {
          const int port = fileKind ? settings.FilePort : settings.ServerPort;
          throw std::runtime_error(std::string(e.what()) +
                                   (fileKind ? " (file port " : " (server port ") +
                                   std::to_string(port) +
                                   (listenAddress.empty() ? "" : " on " + listenAddress) + ")");
        }
        run->OnShutdown([server] { server->Stop(); });
      });
    }
  }
}

std::shared_ptr<const ConnectionSettings> ConnectionIntake::SettingsFor(
    const ServiceRun& run, ConnectionKind kind, const EngineLimits& limits) const {
  const EngineSettings& settings = run.GetSettings();
  auto connectionSettings = std::make_shared<ConnectionSettings>();
  connectionSettings->engineApplicationId = settings.ApplicationId;
  connectionSettings->engineApplicationName = settings.ApplicationName;
  connectionSettings->language = language_;
  connectionSettings->ackTimeout = settings.AckTimeout;
  connectionSettings->healthCheckInterval = settings.HealthCheckInterval;
  connectionSettings->filePort = settings.FilePort;
  connectionSettings->fileDirectory = settings.FileDirectory;
  connectionSettings->fileFactory = file_factory_;
  if (kind == ConnectionKind::kFile) connectionSettings->idleTimeout = limits.fileIdleTimeout;
  connectionSettings->bodyBudget = run.GetBodyBudget();
  connectionSettings->minFreeBytes = limits.minFreeBytes;
  connectionSettings->access = connections_.GetAccess();
  return connectionSettings;
}

void ConnectionIntake::OnAccepted(const std::shared_ptr<ServiceRun>& run, ConnectionKind kind,
                                  const std::shared_ptr<const ConnectionSettings>& settings,
                                  std::shared_ptr<Socket> socket, const std::string& address) {
  auto connection = std::make_shared<Connection>(std::move(socket), listener_, closed_, settings,
                                                 kind, file_threads_, run->GetIoContext());
  if (!connections_.AddHandshaking(connection, address, *run)) return;
  // The handshake runs asynchronously; a slow peer holds up nobody else. The
  // handler holds the run only weakly: a run never keeps itself alive.
  connection->Start([this, weakRun = std::weak_ptr<ServiceRun>(run)](
                        const std::shared_ptr<Connection>& started,
                        const std::exception_ptr& failure) {
    if (const auto currentRun = weakRun.lock()) OnHandshakeDone(*currentRun, started, failure);
  });
}

void ConnectionIntake::OnHandshakeDone(const ServiceRun& run,
                                       const std::shared_ptr<Connection>& connection,
                                       const std::exception_ptr& failure) {
  if (!failure) {
    connections_.OnHandshakeDone(connection, run);
    return;
  }
  if (connection->WasRefused()) {
    // The site's choice, not a failure: counted and logged, not reported.
    connections_.OnApplicationRefused(connection);
    connections_.OnHandshakeFailed(connection);
    return;
  }
  const std::string address = connections_.AddressOf(*connection);
  connections_.OnHandshakeFailed(connection);
  if (run.IsShutDown()) return;  // cut short by the engine's own Stop
  std::wstring reason;
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& e) {
    reason = ExceptionText(e);
  }
  const std::wstring text = L"An attempted connection failed.  Error is \"" + reason + L"\"";
  logger_->Log(LogLevel::Error, L"%ls", text.c_str());
  ReportFailedHandshake(run, address, text);
  // Released here: its destructor says DISCONNECT and closes.
}

void ConnectionIntake::ReportFailedHandshake(const ServiceRun& run, const std::string& address,
                                             const std::wstring& text) {
  // A storm of junk connections must not become a storm of host events: a
  // few per address and second, then one summary once the second is over.
  switch (handshake_reports_->Note(address)) {
    case Logging::ReportLimiter::Verdict::kReport:
      listener_->Notify([&](QuellorListener& listener) {
        listener.OnError(Platform::ToInt(Errc::kConnectionFailed), text);
      });
      return;
    case Logging::ReportLimiter::Verdict::kSuppress:
      return;
    case Logging::ReportLimiter::Verdict::kSuppressFirst:
      break;
  }
  auto timer = std::make_shared<boost::asio::steady_timer>(*run.GetIoContext());
  timer->expires_after(handshake_reports_->GetWindow());
  timer->async_wait([timer, address, limiter = handshake_reports_, listener = listener_,
                     logger = logger_](const boost::system::error_code& error) {
    if (error) return;
    const int count = limiter->TakeSuppressed(address);
    if (count == 0) return;
    const std::wstring summary =
        std::to_wstring(count) + L" more attempted connections from " +
        Platform::FromUtf8(address) + L" failed within a second (not reported one by one)";
    logger->Log(LogLevel::Error, L"%ls", summary.c_str());
    listener->Notify([&](QuellorListener& host) {
      host.OnError(Platform::ToInt(Errc::kConnectionFailed), summary);
    });
  });
}

}  // namespace Client
}  // namespace Corvane

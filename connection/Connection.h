#pragma once

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <boost/asio/steady_timer.hpp>

#include "connection/BodyBudget.h"
#include "connection/ConnectionHandshake.h"
#include "connection/ConnectionSettings.h"
#include "connection/MessageDispatcher.h"
#include "connection/XmlTransactions.h"
#include "protocol/FrameParser.h"
#include "interface/Quellor.h"
#include "interface/QuellorObserver.h"

namespace Corvane {
namespace Logging {
class Logger;
}
namespace Client {

class ConnectionListener;
class FileWorkPool;
class HealthCheckSendCommand;
class IntegrationMessage;
class LinkHealth;
class ListenerSlot;
class SendGroup;
class Socket;
class XmlDataMessage;
class XmlDataSendCommand;

/// How a connection says goodbye when it ends.
enum class Farewell {
  kNone,        // the peer has gone or said DISCONNECT itself: just close
  kDisconnect,  // write a DISCONNECT, then close behind it
};

/// The engine's end of one TCP connection with a vendor application, and the
/// owner of everything that runs on it: the opening exchange
/// (ConnectionHandshake), health checks (standard connections only), the read
/// loop that turns the stream into messages and hands each to its dispatcher
/// (with its deadlines: a frame begun must go on arriving, an idle file
/// connection closes), its ending, and its XML transactions (XmlTransactions).
///
/// Always owned through shared pointers. The handshake, the read loop and all
/// completion handlers run on the I/O thread; SendData runs on client threads;
/// End may be called from any thread, and only the first End acts.
class Connection : public ClientApplication, public std::enable_shared_from_this<Connection> {
 public:
  /// Called on the I/O thread when the handshake has ended: with null when the
  /// connection is running, or with the failure (a Platform::WideError) otherwise.
  using HandshakeHandler =
      std::function<void(const std::shared_ptr<Connection>&, const std::exception_ptr& failure)>;

  /// Reads that keep failing in a row before the connection gives up.
  static constexpr int kMaxConsecutiveReadErrors = 5;
  /// Frames in a row that cannot be read before the connection is closed;
  /// only the first of them are reported one by one.
  static constexpr int kMaxBadFramesInRow = 100;
  static constexpr int kReportedBadFramesInRow = 10;

  /// `socket` is the accepted stream (the engine's is a BoostSocket; tests
  /// hand in sockets of their own). Received files are written and processed
  /// on `fileThreads`. `ioOwner`, when given, is what the socket's executor
  /// belongs to (the engine's I/O context): the connection keeps it alive as
  /// long as anyone holds the connection, a host's snapshot included.
  /// `settings` are shared by every connection of an engine's run on the
  /// same port.
  Connection(std::shared_ptr<Socket> socket, std::shared_ptr<ListenerSlot> listener,
             ConnectionListener* connectionListener,
             std::shared_ptr<const ConnectionSettings> settings, ConnectionKind kind,
             std::shared_ptr<FileWorkPool> fileThreads, std::shared_ptr<void> ioOwner = nullptr);
  /// The same with settings of its own.
  Connection(std::shared_ptr<Socket> socket, std::shared_ptr<ListenerSlot> listener,
             ConnectionListener* connectionListener, ConnectionSettings settings,
             ConnectionKind kind, std::shared_ptr<FileWorkPool> fileThreads,
             std::shared_ptr<void> ioOwner = nullptr);
  /// Ends with a DISCONNECT if not ended yet, without telling the connection
  /// listener (nobody holds the connection any more).
  ~Connection() override;

  std::wstring GetAddress() override { return application_address_; }
  std::wstring GetId() override { return application_id_; }
  std::wstring GetName() override { return application_name_; }
  int GetVersion() override { return version_; }

  /// Starts the handshake on the accepted stream: reads the CONNECT, answers
  /// CONNECTACK, then starts health checks and the read loop. A peer that has
  /// not sent its whole CONNECT within the acknowledgement timeout fails as a
  /// short CONNECT does. `done` runs once, on the I/O thread.
  virtual void Start(HandshakeHandler done);
  /// Ends the connection, once: cancels health checks, queues the farewell,
  /// and closes the stream behind it (at the latest after the acknowledgement
  /// timeout), then tells the connection listener. Never waits, so that no
  /// peer holds up whoever ends it. Later calls do nothing.
  virtual void End(Farewell farewell);
  /// As End(farewell), saying why; the reason of the call that ends the
  /// connection is the one kept.
  virtual void End(Farewell farewell, DepartureReason reason);
  /// Why the connection ended (meaningful once it has).
  DepartureReason GetEndReason() const { return end_reason_.load(); }
  virtual bool IsClosed();
  /// True once the handshake was refused because the site does not allow
  /// the CONNECT's application id (the handshake then fails).
  bool WasRefused() const { return refused_; }
  /// Runs one XML transaction; true when the text was written and, for a
  /// version-1 peer, acknowledged. Concurrent callers take turns.
  virtual bool SendData(const std::wstring& xml);
  virtual bool SendMessage(std::shared_ptr<XmlDataMessage> message);

  /// One XML transaction under way, from StartSend to FinishSend: its
  /// completion. Transactions take turns; the next one begins once this one
  /// is finished or dropped.
  struct PendingSend {
    std::shared_ptr<XmlDataSendCommand> command;
  };
  /// Writes `message` without waiting for its outcome (the first half of
  /// SendMessage); `group`, when set, hears once when the outcome is known.
  PendingSend StartSend(std::shared_ptr<XmlDataMessage> message,
                        std::shared_ptr<SendGroup> group = nullptr);
  /// Waits for the outcome of StartSend, as SendMessage does, which lets the
  /// next transaction begin. Logs the failure; `outcome`, when given, gets its
  /// code and text (left as it is on success). Counts the XML sent and its
  /// round trip in the link's health.
  bool FinishSend(const PendingSend& pending, SendOutcome* outcome = nullptr);

  void SetVersion(int version) { version_ = version; }
  /// Starts reading the next frame again after the dispatcher paused reading
  /// (a file waiting for a thread). Any thread.
  void ResumeReading();

  std::shared_ptr<Socket> GetSocket() const;
  const std::shared_ptr<ListenerSlot>& GetListener() const { return listener_; }
  const ConnectionSettings& GetSettings() const { return *settings_; }
  bool IsFileConnection() const { return kind_ == ConnectionKind::kFile; }
  /// Where received files are written and processed. Never null.
  const std::shared_ptr<FileWorkPool>& GetFileWorkPool() const {
    return file_threads_;
  }
  std::shared_ptr<HealthCheckSendCommand> GetHealthCheckCommand() const;
  /// The link's running tally. A file connection starts with its own and
  /// takes its application's (ShareHealth) once the engine knows it.
  std::shared_ptr<LinkHealth> GetHealth() const;
  void ShareHealth(std::shared_ptr<LinkHealth> health);
  /// What the application sent in its CONNECT, for the host.
  ApplicationInfo GetInfo();
  std::shared_ptr<XmlDataSendCommand> GetXmlDataSendCommand() const;

 private:
  // Ends unless already ended; true when this call ended the connection.
  bool EndOnce(Farewell farewell, DepartureReason reason);
  const wchar_t* KindText() const { return IsFileConnection() ? L"file" : L"standard"; }

  void OnHandshakeEnded(ConnectionHandshake::Outcome outcome, HandshakeHandler done);
  // Starts health checks and the read loop unless `failure`, then tells `done`.
  void FinishHandshake(const std::exception_ptr& failure, HandshakeHandler done);

  void ReadHeader();
  void ReadBody();
  // Reads on in the body once the dispatcher lets it (a file's writer has
  // caught up). Any thread.
  void ResumeBody();
  // Drops the message being read, if any.
  void StopReading();
  void ReadBodyPiece();
  void OnBodyPiece(const boost::system::error_code& error, std::size_t bytes);
  // Ends the frame being read, and with it the connection, if no piece of it
  // arrives within the acknowledgement timeout.
  void ArmFrameDeadline();
  // Ends the connection if no frame starts within the idle timeout.
  void ArmIdleDeadline();
  void OnRead(const boost::system::error_code& error, std::size_t bytes);
  // Turns what the last read brought into the message being read, and
  // dispatches it once complete.
  void ReadFrame();
  // Logs the step the last read brought (debug level).
  void LogStep();
  // Reports a read that cannot go on (-113) and ends the connection.
  void FailRead(const std::wstring& text);
  // Grows the claim on the memory budget to what the frame holds; false,
  // with the connection failed, when the budget cannot hold it.
  bool ClaimBody();
  // True when reading must stop.
  bool OnReadError(const boost::system::error_code& error);
  void ReportReadError(const std::wstring& text);

  const std::shared_ptr<void> io_owner_;  // declared first: goes last
  const std::shared_ptr<Socket> socket_;
  std::wstring application_address_;
  std::wstring application_id_;
  std::wstring application_name_;
  const std::shared_ptr<const ConnectionSettings> settings_;
  const ConnectionKind kind_;
  std::mutex end_mutex_;   // held while ending
  FrameParser parser_;           // I/O thread only: the frame being read
  std::u16string piece_buffer_;  // one piece of a long body
  bool reading_piece_ = false;   // the last read filled piece_buffer_, not the step
  BodyBudget::Claim body_claim_;  // I/O thread only: what the frame being read holds
  MessageDispatcher dispatcher_;                         // I/O thread only
  std::shared_ptr<Logging::Logger> logger_;
  const std::shared_ptr<ListenerSlot> listener_;
  std::atomic<ConnectionListener*> connection_listener_;
  mutable std::mutex commands_mutex_;  // guards health_check_
  std::shared_ptr<HealthCheckSendCommand> health_check_;
  XmlTransactions transactions_;
  std::atomic<bool> ended_{false};
  std::atomic<DepartureReason> end_reason_{DepartureReason::kDisconnected};
  std::shared_ptr<LinkHealth> health_;  // read and swapped with std::atomic_load/store
  std::atomic<int> version_{1};
  const std::shared_ptr<FileWorkPool> file_threads_;

  boost::asio::steady_timer frame_timer_;  // I/O thread only
  bool refused_ = false;  // set on the I/O thread before the handshake ends
  int consecutive_read_errors_ = 0;
  int bad_frames_in_row_ = 0;
};

}  // namespace Client
}  // namespace Corvane

#pragma once

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include "connection/ConnectionSettings.h"
#include "engine/Quellor.h"

namespace Corvane {
namespace Logging {
class Logger;
}
namespace Client {

class BoostSocket;
class ConnectionListener;
class FileProcessingThreads;
class HealthCheckSendCommand;
class IntegrationMessage;
class ListenerSlot;
class Socket;
class XmlDataMessage;
class XmlDataSendCommand;

/// The engine's end of one TCP connection with a vendor application: the
/// CONNECT/CONNECTACK handshake, health checks (standard connections only), a
/// read loop that turns the stream into messages and runs their receive
/// actions, and serialised XML transactions.
///
/// Always owned through shared pointers. The handshake, the read loop and all
/// completion handlers run on the I/O thread; SendData runs on client threads;
/// Stop and Close may be called from any thread, and only the first Stop acts.
class Connection : public ClientApplication, public std::enable_shared_from_this<Connection> {
 public:
  /// Called on the I/O thread when the handshake has ended: with null when the
  /// connection is running, or with the failure (a wexception) otherwise.
  using HandshakeHandler =
      std::function<void(const std::shared_ptr<Connection>&, const std::exception_ptr& failure)>;

  /// Reads that keep failing in a row before the connection gives up.
  static constexpr int kMaxConsecutiveReadErrors = 5;

  Connection(std::shared_ptr<boost::asio::io_context> ioContext,
             std::shared_ptr<ListenerSlot> listener, ConnectionListener* connectionListener,
             ConnectionSettings settings, ConnectionKind kind,
             std::shared_ptr<FileProcessingThreads> fileThreads);
  /// Stops with a DISCONNECT if not stopped yet, then forgets both listeners.
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
  /// Ends the connection once: cancels health checks, optionally writes a
  /// DISCONNECT, and closes the stream (after the DISCONNECT has gone out, or
  /// at the latest after the acknowledgement timeout). Never waits on the I/O
  /// thread; on a client thread waits at most the acknowledgement timeout.
  virtual void Stop(bool sendDisconnect);
  /// Stop without waiting for the DISCONNECT on any thread: the frame is
  /// queued and the stream closes behind it. For stopping many connections
  /// at once, so that no single peer holds up the others.
  void StopWithoutWaiting(bool sendDisconnect);
  virtual bool IsClosed();
  /// Runs one XML transaction; true when the text was written and, for a
  /// version-1 peer, acknowledged. Concurrent callers take turns.
  virtual bool SendData(const std::wstring& xml);
  virtual bool SendMessage(std::shared_ptr<XmlDataMessage> message);
  /// Close(true).
  virtual void Close();

  /// Stop(sendDisconnect), then tells the connection listener.
  void Close(bool sendDisconnect);
  void SetVersion(int version) { version_ = version; }

  /// The stream an acceptor accepts into.
  boost::asio::ip::tcp::socket& GetStream() { return *stream_; }
  const std::shared_ptr<boost::asio::io_context>& GetIoContext() const { return io_context_; }
  std::shared_ptr<Socket> GetSocket() const;
  const std::shared_ptr<ListenerSlot>& GetListener() const { return listener_; }
  const std::wstring& GetFileDirectory() const { return settings_.fileDirectory; }
  bool IsFileConnection() const { return kind_ == ConnectionKind::kFile; }
  /// Where received files are processed: the engine's threads, or the
  /// process-wide ones when none were given at construction. Never null.
  const std::shared_ptr<FileProcessingThreads>& GetFileProcessingThreads() const {
    return file_threads_;
  }
  std::shared_ptr<HealthCheckSendCommand> GetHealthCheckCommand() const;
  std::shared_ptr<XmlDataSendCommand> GetXmlDataSendCommand() const;

 private:
  // Stops unless already stopped; true when this call stopped the connection.
  bool StopOnce(bool sendDisconnect, bool waitForDisconnect = true);
  const wchar_t* KindText() const { return IsFileConnection() ? L"file" : L"standard"; }

  void OnConnectRead(const boost::system::error_code& error, std::size_t bytes);
  void OnHandshakeTimeout(const boost::system::error_code& error);
  // Reads the CONNECT from connect_buffer_; returns it, or throws.
  std::shared_ptr<IntegrationMessage> ParseConnect(const boost::system::error_code& error,
                                                   std::size_t bytes);
  void OnConnectResponseWritten(const boost::system::error_code& error, std::size_t bytes,
                                std::size_t expected, std::exception_ptr failure);
  void FinishHandshake(std::exception_ptr failure);

  void ReadHeader();
  void ReadBody();
  void HandleRead(const boost::system::error_code& error, std::size_t bytes);
  // True when reading must stop.
  bool HandleReadError(const boost::system::error_code& error);
  void ReportReadError(const std::wstring& text);

  const std::shared_ptr<boost::asio::io_context> io_context_;
  const std::shared_ptr<boost::asio::ip::tcp::socket> stream_;
  const std::shared_ptr<BoostSocket> socket_;
  std::wstring application_address_;
  std::wstring application_id_;
  std::wstring application_name_;
  const ConnectionSettings settings_;
  const ConnectionKind kind_;
  std::mutex send_mutex_;  // held for one whole XML transaction
  std::mutex stop_mutex_;  // held while stopping
  std::u16string header_buffer_;
  std::u16string body_buffer_;
  std::u16string connect_buffer_;
  std::shared_ptr<IntegrationMessage> current_message_;  // I/O thread only
  std::shared_ptr<Logging::Logger> logger_;
  const std::shared_ptr<ListenerSlot> listener_;
  std::atomic<ConnectionListener*> connection_listener_;
  mutable std::mutex commands_mutex_;  // guards the two commands below
  std::shared_ptr<HealthCheckSendCommand> health_check_;
  std::shared_ptr<XmlDataSendCommand> xml_send_command_;
  std::atomic<bool> stopped_{false};
  std::atomic<int> version_{1};
  const std::shared_ptr<FileProcessingThreads> file_threads_;

  // Handshake state, I/O thread only.
  boost::asio::steady_timer handshake_timer_;
  HandshakeHandler handshake_done_;
  bool handshake_timed_out_ = false;
  int consecutive_read_errors_ = 0;
};

}  // namespace Client
}  // namespace Corvane

#pragma once

#include <functional>
#include <memory>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include "platform/SpareDescriptor.h"

namespace Corvane {
namespace Logging {
class Logger;
}
namespace Client {

/// Accepts TCP connections on one port (of every IPv4 address, or of one)
/// and hands each accepted stream to the engine.
///
/// Owned through a shared pointer; pending accepts hold it. Handlers run on
/// the I/O thread; Stop may be called from any thread.
class SocketServer : public std::enable_shared_from_this<SocketServer> {
 public:
  /// Receives each accepted stream, on the I/O thread.
  using StreamHandler = std::function<void(boost::asio::ip::tcp::socket stream)>;

  /// Pause before accepting again after an accept error, so that a lasting
  /// error (no descriptors left) does not turn into a busy loop. The
  /// listening socket stays open through any accept error.
  static constexpr std::chrono::milliseconds kRetryDelay{100};

  /// `address`: the dotted IPv4 address to listen on; empty for all.
  SocketServer(std::shared_ptr<boost::asio::io_context> ioContext, int port,
               StreamHandler handle, std::string address = std::string());
  ~SocketServer();
  SocketServer(const SocketServer&) = delete;
  SocketServer& operator=(const SocketServer&) = delete;

  /// Opens, binds and listens, then accepts. Throws the socket error of the
  /// step that failed (for example a port held by another program); once
  /// listening, nothing ends it but Stop.
  void Start();
  /// Closes the listening socket on the I/O thread; a pending accept then
  /// completes with operation_aborted.
  void Stop();

 private:
  void Listen();
  void StartAccept();
  void OnAccept(const boost::system::error_code& error, boost::asio::ip::tcp::socket stream);
  void CloseAcceptor();

  const std::shared_ptr<boost::asio::io_context> io_context_;
  const int port_;
  const std::string address_;
  const StreamHandler handle_;
  std::shared_ptr<boost::asio::ip::tcp::acceptor> acceptor_;  // I/O thread only after Start
  boost::asio::steady_timer retry_timer_;
  std::shared_ptr<Logging::Logger> logger_;
  bool stopped_ = false;  // I/O thread only
  // Released to shed a waiting connection when descriptors run out.
  Platform::SpareDescriptor spare_;
  std::chrono::steady_clock::time_point shortage_logged_;  // I/O thread only
};

}  // namespace Client
}  // namespace Corvane

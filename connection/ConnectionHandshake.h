#pragma once

#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include <boost/asio/steady_timer.hpp>

#include "connection/ConnectionSettings.h"

namespace Corvane {
namespace Client {

class ConnectMessage;
class IntegrationMessage;
class Socket;

/// The CONNECT/CONNECTACK exchange that opens a connection: reads the peer's
/// CONNECT (within the acknowledgement timeout), checks its application id
/// against the site's access policy, and answers CONNECTACK.
///
/// Always owned through a shared pointer, which its handlers hold; all of it
/// runs on the I/O thread.
class ConnectionHandshake : public std::enable_shared_from_this<ConnectionHandshake> {
 public:
  /// How the exchange ended.
  struct Outcome {
    /// The peer's CONNECT, when one could be read.
    std::shared_ptr<ConnectMessage> connect;
    /// The site does not allow the CONNECT's application id: nothing was
    /// answered, and the connection is to close without a farewell.
    bool refused = false;
    /// Null when the connection may run; otherwise why not (a
    /// Platform::WideError or an EngineError).
    std::exception_ptr failure;
  };
  using Handler = std::function<void(Outcome)>;

  ConnectionHandshake(std::shared_ptr<Socket> socket,
                      std::shared_ptr<const ConnectionSettings> settings);

  /// Starts the exchange; `done` runs once, on the I/O thread.
  void Start(Handler done);

 private:
  void OnTimeout(const boost::system::error_code& error);
  void OnConnectRead(const boost::system::error_code& error, std::size_t bytes);
  // Reads the CONNECT from buffer_; returns it, or throws.
  std::shared_ptr<IntegrationMessage> ParseConnect(const boost::system::error_code& error,
                                                   std::size_t bytes);
  void OnResponseWritten(const boost::system::error_code& error, std::size_t bytes,
                         std::size_t expected);
  void Finish(Outcome outcome);

  const std::shared_ptr<Socket> socket_;
  const std::shared_ptr<const ConnectionSettings> settings_;
  boost::asio::steady_timer timer_;
  std::u16string buffer_;
  std::shared_ptr<ConnectMessage> connect_;
  Handler done_;
  bool timed_out_ = false;
};

}  // namespace Client
}  // namespace Corvane

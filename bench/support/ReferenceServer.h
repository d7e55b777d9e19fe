#pragma once
// The by-hand counterpart of the engine's socket server, for baselines: one
// I/O thread accepts on a free port of 127.0.0.1, reads each peer's CONNECT,
// answers with a CONNECTACK and then keeps the stream, doing nothing else.
//
// Thread-safety: operations from any one thread; Handshakes from any thread.

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

namespace Corvane {
namespace Bench {

class ReferenceServer {
 public:
  ReferenceServer();
  /// Closes every stream and ends the I/O thread.
  ~ReferenceServer();
  ReferenceServer(const ReferenceServer&) = delete;
  ReferenceServer& operator=(const ReferenceServer&) = delete;

  int Port() const { return port_; }
  int Handshakes() const { return handshakes_; }
  /// The first stream that completed its handshake, or null.
  std::shared_ptr<boost::asio::ip::tcp::socket> FirstStream();
  /// The I/O context every stream belongs to (run by this server's thread).
  boost::asio::io_context& Io() { return io_; }
  /// Hands every stream that completed its handshake over to the caller as
  /// a plain descriptor (TCP_NODELAY set; its blocking mode is the caller's to
  /// set), which the caller closes:
  /// this server's I/O thread no longer watches it, so a by-hand loop that
  /// reads it is woken alone.
  std::vector<int> ReleaseStreams();
  void CloseAll();

 private:
  void Accept();
  void OnAccepted(const std::shared_ptr<boost::asio::ip::tcp::socket>& stream,
                  const boost::system::error_code& error);

  boost::asio::io_context io_;
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work_;
  boost::asio::ip::tcp::acceptor acceptor_;
  int port_ = 0;
  std::atomic<int> handshakes_{0};
  std::vector<std::shared_ptr<boost::asio::ip::tcp::socket>> streams_;  // I/O thread only
  std::thread thread_;
};

}  // namespace Bench
}  // namespace Corvane

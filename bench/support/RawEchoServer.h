#pragma once
// The floor of a request/reply exchange on this machine, the server's side:
// a thread accepts connections on a free port of 127.0.0.1 and, on each in
// turn, reads requests of a fixed size with blocking receives and answers
// each with a reply of a fixed size, with TCP_NODELAY: no framing, no
// validation. Meant for a process of its own (see PeerProcess), so that both
// ends of the exchange wake as two applications' threads would.
//
// Thread-safety: Port from any thread.

#include <atomic>
#include <cstddef>
#include <string>
#include <thread>

namespace Corvane {
namespace Bench {

class RawEchoServer {
 public:
  /// Listens now; throws std::runtime_error when it cannot.
  RawEchoServer(std::size_t requestBytes, std::size_t replyBytes);
  /// Stops listening, ends the connection being served and the thread.
  ~RawEchoServer();
  RawEchoServer(const RawEchoServer&) = delete;
  RawEchoServer& operator=(const RawEchoServer&) = delete;

  int Port() const { return port_; }

 private:
  void Serve();
  void Echo(int stream);

  const std::size_t request_bytes_;
  const std::string reply_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<int> stream_{-1};  // the connection being served
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace Bench
}  // namespace Corvane

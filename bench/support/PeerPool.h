#pragma once
// Light vendor applications for benchmarks: any number of client connections
// to one port on 127.0.0.1, all driven by one I/O thread. Each peer sends its
// CONNECT, waits for the CONNECTACK and then answers the way a version-1
// vendor application does: HLTHCHK with HLTHACK, XMLDATA with XMLACK.
//
// A peer costs one socket and a few hundred bytes: reads wait for readiness
// and then drain the socket into one buffer shared by all peers, so no peer
// keeps a receive buffer of its own.
//
// Thread-safety: the operations may be called from any one thread; the
// counters from any thread.

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

namespace Corvane {
namespace Bench {

class PeerPool {
 public:
  /// Counters, updated on the I/O thread.
  struct Counters {
    std::atomic<int> handshakes{0};          // CONNECTACK received
    std::atomic<int> failed{0};              // could not connect, or closed before CONNECTACK
    std::atomic<int> connect_errors{0};      // of those, could not connect at all
    std::atomic<int> first_connect_error{0}; // errno of the first connect error
    std::atomic<long> xml_answered{0};       // XMLDATA received and acknowledged
    std::atomic<long> checks_answered{0};    // HLTHCHK received and acknowledged
    std::atomic<int> disconnects{0};         // DISCONNECT received
    std::atomic<int> closed_by_engine{0};    // stream ended by the other side
    std::atomic<int> parse_failures{0};      // frames that did not parse
    std::atomic<long long> last_handshake_ns{0};  // steady clock, of the latest CONNECTACK
  };

  /// Peers will connect to `port` on 127.0.0.1. Starts the I/O thread.
  explicit PeerPool(int port);
  /// Closes every peer and ends the I/O thread.
  ~PeerPool();
  PeerPool(const PeerPool&) = delete;
  PeerPool& operator=(const PeerPool&) = delete;

  /// Connects `count` more peers, with at most `window` handshakes under way
  /// at a time, and waits until each has its CONNECTACK or has failed, or
  /// `limit` has passed. Returns the number of new peers that hand-shook.
  int Connect(int count, int window, std::chrono::milliseconds limit);

  /// Closes every peer's socket (the engine sees the end of its stream) and
  /// waits until that is done.
  void CloseAll();

  const Counters& GetCounters() const { return *counters_; }

  class Peer;
  struct Launcher;

 private:
  boost::asio::io_context io_;
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work_;
  const int port_;
  const std::shared_ptr<Counters> counters_ = std::make_shared<Counters>();
  std::vector<std::shared_ptr<Peer>> peers_;  // I/O thread only
  int next_index_ = 0;                        // I/O thread only
  std::thread thread_;
};

}  // namespace Bench
}  // namespace Corvane

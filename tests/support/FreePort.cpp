#include "support/FreePort.h"

#include <mutex>
#include <set>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>

namespace Corvane {
namespace Testing {

namespace {

// The system may hand out a port it just handed out, once its socket is
// closed; a test that asks twice needs two different ports.
template <typename Protocol>
int UnusedPort(const Protocol& protocol) {
  static std::mutex mutex;
  static std::set<int> given;
  std::lock_guard<std::mutex> lock(mutex);
  boost::asio::io_context io;
  for (;;) {
    typename Protocol::socket socket(io, typename Protocol::endpoint(protocol, 0));
    const int port = socket.local_endpoint().port();
    if (given.insert(port).second) return port;
  }
}

}  // namespace

int FreeTcpPort() { return UnusedPort(boost::asio::ip::tcp::v4()); }

int FreeUdpPort() { return UnusedPort(boost::asio::ip::udp::v4()); }

}  // namespace Testing
}  // namespace Corvane

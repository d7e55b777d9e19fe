#include "support/FreePort.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>

namespace Corvane {
namespace Testing {

int FreeTcpPort() {
  boost::asio::io_context io;
  boost::asio::ip::tcp::acceptor acceptor(io, {boost::asio::ip::tcp::v4(), 0});
  return acceptor.local_endpoint().port();
}

int FreeUdpPort() {
  boost::asio::io_context io;
  boost::asio::ip::udp::socket socket(io, {boost::asio::ip::udp::v4(), 0});
  return socket.local_endpoint().port();
}

}  // namespace Testing
}  // namespace Corvane

#include "support/RawEchoServer.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace Corvane {
namespace Bench {

RawEchoServer::RawEchoServer(std::size_t requestBytes, std::size_t replyBytes)
    : request_bytes_(requestBytes), reply_(replyBytes, 'r') {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener_ < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener_, 8) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    const int error = errno;
    ::close(listener_);
    throw std::runtime_error(std::string("raw echo server: ") + std::strerror(error));
  }
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { Serve(); });
}

RawEchoServer::~RawEchoServer() {
  stopping_ = true;
  // Wakes a blocking accept and a blocking receive alike.
  ::shutdown(listener_, SHUT_RDWR);
  const int stream = stream_.load();
  if (stream >= 0) ::shutdown(stream, SHUT_RDWR);
  thread_.join();
  ::close(listener_);
}

void RawEchoServer::Serve() {
  while (!stopping_) {
    const int stream = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (stream < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;
    }
    const int one = 1;
    ::setsockopt(stream, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    stream_ = stream;
    if (!stopping_) Echo(stream);
    stream_ = -1;
    ::close(stream);
  }
}

void RawEchoServer::Echo(int stream) {
  std::vector<char> request(request_bytes_);
  for (;;) {
    std::size_t got = 0;
    while (got < request.size()) {
      const ssize_t n = ::recv(stream, request.data() + got, request.size() - got, MSG_WAITALL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      got += static_cast<std::size_t>(n);
    }
    std::size_t sent = 0;
    while (sent < reply_.size()) {
      const ssize_t n = ::send(stream, reply_.data() + sent, reply_.size() - sent, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      sent += static_cast<std::size_t>(n);
    }
  }
}

}  // namespace Bench
}  // namespace Corvane

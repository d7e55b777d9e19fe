#include "tools/peer/HailListener.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "platform/TextConversion.h"
#include "protocol/FieldCodec.h"
#include "protocol/WireFormat.h"

namespace Corvane {
namespace Peer {

namespace Wire = Client::Wire;

HailListener::HailListener(const std::string& group, int port, const std::string& interfaceAddress) {
  fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) throw std::runtime_error(std::string("cannot open a socket: ") + std::strerror(errno));
  const int one = 1;
  ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(static_cast<std::uint16_t>(port));
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    const std::string reason = std::strerror(errno);
    ::close(fd_);
    throw std::runtime_error("cannot listen on port " + std::to_string(port) + ": " + reason);
  }
  ip_mreq membership{};
  if (::inet_pton(AF_INET, group.c_str(), &membership.imr_multiaddr) != 1) {
    ::close(fd_);
    throw std::runtime_error("not a group address: " + group);
  }
  membership.imr_interface.s_addr = htonl(INADDR_ANY);
  if (!interfaceAddress.empty() &&
      ::inet_pton(AF_INET, interfaceAddress.c_str(), &membership.imr_interface) != 1) {
    ::close(fd_);
    throw std::runtime_error("not an interface address: " + interfaceAddress);
  }
  // Each datagram comes with the interface it arrived on.
  ::setsockopt(fd_, IPPROTO_IP, IP_PKTINFO, &one, sizeof one);
  if (::setsockopt(fd_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) != 0) {
    const std::string reason = std::strerror(errno);
    ::close(fd_);
    throw std::runtime_error("cannot join " + group + ": " + reason);
  }
}

HailListener::~HailListener() {
  if (fd_ >= 0) ::close(fd_);
}

bool HailListener::Next(Hail& hail, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd ready{fd_, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(left.count())) <= 0) continue;
    std::u16string frame(512, u'\0');
    iovec data{&frame[0], frame.size() * sizeof(char16_t)};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t got = ::recvmsg(fd_, &message, 0);
    if (got <= 0) continue;
    hail.interfaceName.clear();
    for (cmsghdr* item = CMSG_FIRSTHDR(&message); item; item = CMSG_NXTHDR(&message, item)) {
      if (item->cmsg_level != IPPROTO_IP || item->cmsg_type != IP_PKTINFO) continue;
      in_pktinfo info{};
      std::memcpy(&info, CMSG_DATA(item), sizeof info);
      char name[IF_NAMESIZE] = {};
      if (::if_indextoname(static_cast<unsigned>(info.ipi_ifindex), name)) hail.interfaceName = name;
    }
    frame.resize(static_cast<std::size_t>(got) / sizeof(char16_t));
    // HAIL: header (20), address (15), port (5), application id (36).
    if (frame.size() < 76 ||
        Wire::ReadText(frame, Wire::kPrefixLength, Wire::kTypeNameWidth) != Wire::kTypeHail) {
      continue;
    }
    int port = 0;
    Wire::ReadNumber(Wire::Field(frame, 35, 5), port);
    hail.address = Platform::ToUtf8(Platform::FromUtf16(Wire::ReadText(frame, 20, 15)));
    hail.port = port;
    hail.applicationId = Platform::ToUtf8(Platform::FromUtf16(Wire::ReadText(frame, 40, 36)));
    return true;
  }
}

}  // namespace Peer
}  // namespace Corvane

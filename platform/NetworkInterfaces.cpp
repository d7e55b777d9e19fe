#include "platform/NetworkInterfaces.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Corvane {
namespace Platform {

std::vector<NetworkInterface> ListNetworkInterfaces() {
  std::vector<NetworkInterface> interfaces;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return interfaces;
  for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
    if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET || !entry->ifa_name) continue;
    char text[INET_ADDRSTRLEN] = {};
    const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
    if (!inet_ntop(AF_INET, &address->sin_addr, text, sizeof text)) continue;
    NetworkInterface item;
    item.name = entry->ifa_name;
    item.address = text;
    item.up = (entry->ifa_flags & IFF_UP) && (entry->ifa_flags & IFF_RUNNING);
    item.multicast = (entry->ifa_flags & IFF_MULTICAST) != 0;
    item.loopback = (entry->ifa_flags & IFF_LOOPBACK) != 0;
    interfaces.push_back(std::move(item));
  }
  freeifaddrs(list);
  return interfaces;
}

std::string SourceAddressFor(const std::string& destination, unsigned short port) {
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(port);
  if (inet_pton(AF_INET, destination.c_str(), &target.sin_addr) != 1) return {};
  const int probe = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (probe < 0) return {};
  std::string result;
  // Connecting a datagram socket only looks the route up; nothing is sent.
  sockaddr_in local{};
  socklen_t length = sizeof local;
  if (connect(probe, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0 &&
      getsockname(probe, reinterpret_cast<sockaddr*>(&local), &length) == 0 &&
      local.sin_addr.s_addr != htonl(INADDR_ANY)) {
    char text[INET_ADDRSTRLEN] = {};
    if (inet_ntop(AF_INET, &local.sin_addr, text, sizeof text)) result = text;
  }
  close(probe);
  return result;
}

bool ParseIpv4(const std::string& text, std::uint32_t& address) {
  in_addr parsed{};
  if (text.empty() || inet_pton(AF_INET, text.c_str(), &parsed) != 1) return false;
  address = ntohl(parsed.s_addr);
  return true;
}

bool IsLoopbackAddress(const std::string& address) {
  std::uint32_t value = 0;
  return ParseIpv4(address, value) && (value >> 24) == 127;
}

}  // namespace Platform
}  // namespace Corvane

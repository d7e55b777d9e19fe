#pragma once
// The machine's network interfaces as the hailing and the acceptors see them:
// each interface's name, its IPv4 addresses and whether it is up, carries
// multicast and is a loopback interface. Read afresh at every call, so that
// interfaces that come and go are seen.

#include <cstdint>
#include <string>
#include <vector>

namespace Corvane {
namespace Platform {

struct NetworkInterface {
  std::string name;
  /// Dotted IPv4 address; an interface with several has one entry each.
  std::string address;
  bool up = false;
  bool multicast = false;
  bool loopback = false;
};

/// Every interface with an IPv4 address, in the system's order. Empty when
/// the system cannot list them.
std::vector<NetworkInterface> ListNetworkInterfaces();

/// The local address the system would send from to reach `destination` (a
/// dotted IPv4 address) on `port`, found without sending anything; empty when
/// it has no route there.
std::string SourceAddressFor(const std::string& destination, unsigned short port);

/// Whether `address` is a dotted IPv4 address in 127.0.0.0/8.
bool IsLoopbackAddress(const std::string& address);

/// Parses a dotted IPv4 address into host order; false when it is not one.
bool ParseIpv4(const std::string& text, std::uint32_t& address);

}  // namespace Platform
}  // namespace Corvane

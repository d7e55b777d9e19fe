#pragma once
// Where the engine hails and which address each HAIL carries, as a site sets
// it in engine.ini ([Network] HailInterfaces), and the choice of interfaces
// it leads to on the machine as it is at each hail.

#include <string>
#include <vector>

#include "platform/NetworkInterfaces.h"

namespace Corvane {
namespace Client {

/// One HAIL to send: through which interface (its IPv4 address; empty lets
/// the system choose) and the address the HAIL announces.
struct HailTarget {
  std::string outboundInterface;
  std::string announcedAddress;
  bool operator==(const HailTarget& other) const {
    return outboundInterface == other.outboundInterface &&
           announcedAddress == other.announcedAddress;
  }
};

class HailInterfaces {
 public:
  enum class Mode {
    kSystem,  // one HAIL, through the interface the system picks for the group
    kAll,     // one through every interface that is up and carries multicast
    kListed,  // one through each listed interface (names or addresses)
  };

  /// The setting's value: empty gives kSystem, "all" kAll, otherwise a
  /// comma-separated list of interface names or IPv4 addresses.
  static HailInterfaces Parse(const std::string& value);

  Mode GetMode() const { return mode_; }
  const std::vector<std::string>& GetListed() const { return listed_; }

  /// The HAILs to send on `interfaces`. `hostAddress` is what the host name
  /// resolves to, `group` and `port` the multicast group's. Listed entries
  /// that match no interface go to `missing`.
  std::vector<HailTarget> Choose(const std::vector<Platform::NetworkInterface>& interfaces,
                                 const std::string& hostAddress, const std::string& group,
                                 unsigned short port, std::vector<std::string>& missing) const;

  /// The address a HAIL sent the system's way announces: the host name's
  /// address unless it is a loopback address or none, then the address the
  /// system sends to the group from, then the first other interface's; a
  /// loopback address only when the machine has no other.
  static std::string AnnouncedAddress(const std::vector<Platform::NetworkInterface>& interfaces,
                                      const std::string& hostAddress,
                                      const std::string& sourceAddress);

 private:
  Mode mode_ = Mode::kSystem;
  std::vector<std::string> listed_;
};

}  // namespace Client
}  // namespace Corvane

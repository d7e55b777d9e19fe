#pragma once
// Listens on the engine's multicast group for hails.

#include <chrono>
#include <string>

namespace Corvane {
namespace Peer {

struct Hail {
  std::string applicationId;
  std::string address;
  int port = 0;
  /// The interface the hail came in on (its name; empty when unknown).
  std::string interfaceName;
};

class HailListener {
 public:
  /// Joins `group`:`port` on the interface with address `interfaceAddress`
  /// (any when empty). Throws std::runtime_error with the reason.
  HailListener(const std::string& group, int port, const std::string& interfaceAddress);
  ~HailListener();
  HailListener(const HailListener&) = delete;
  HailListener& operator=(const HailListener&) = delete;

  /// The next hail within `timeout`; false when none came.
  bool Next(Hail& hail, std::chrono::milliseconds timeout);

 private:
  int fd_ = -1;
};

}  // namespace Peer
}  // namespace Corvane

#pragma once
// Which peers a site lets in (engine.ini, section [Access]): the networks a
// connection may come from and the application ids a CONNECT may carry.
// Empty lists allow everyone. Immutable once parsed, so that connections on
// any thread may share one.

#include <cstdint>
#include <string>
#include <vector>

namespace Corvane {
namespace Client {

class AccessPolicy {
 public:
  /// Allows everyone.
  AccessPolicy() = default;

  /// Parses `networks` (comma-separated IPv4 networks in CIDR form, such as
  /// "192.168.10.0/24, 10.1.2.3/32"; a bare address is a /32) and `ids`
  /// (comma-separated application ids, exact). Returns false with `error`
  /// naming the first malformed entry.
  static bool Parse(const std::string& networks, const std::wstring& ids, AccessPolicy& policy,
                    std::wstring& error);

  /// Whether a connection from `address` (dotted IPv4) may be served.
  bool AllowsAddress(const std::string& address) const;
  /// Whether a CONNECT carrying `applicationId` may be answered.
  bool AllowsApplication(const std::wstring& applicationId) const;

  bool RestrictsAddresses() const { return !networks_.empty(); }
  bool RestrictsApplications() const { return !ids_.empty(); }

 private:
  struct Network {
    std::uint32_t address;
    std::uint32_t mask;
  };
  std::vector<Network> networks_;
  std::vector<std::wstring> ids_;
};

}  // namespace Client
}  // namespace Corvane

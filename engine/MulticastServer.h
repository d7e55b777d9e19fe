#pragma once

#include <chrono>

#include <atomic>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/steady_timer.hpp>

#include "engine/HailInterfaces.h"

namespace Corvane {
namespace Logging {
class Logger;
}
namespace Client {

/// Announces the client on the network: HAIL datagrams to the multicast
/// group at once, then one interval after each round of sends. It only sends;
/// it never joins the group or reads. Errors are logged and the cycle goes on.
///
/// Each round goes out through the interfaces the site chose (see
/// HailInterfaces), looked up afresh so that interfaces that come and go are
/// followed, and each HAIL carries an address its receivers can reach: the
/// address of the interface it leaves through. Sends never wait: a datagram
/// the system cannot take at once is logged as failed.
///
/// Owned through a shared pointer; every pending send and timer wait holds it,
/// so handlers that run after the engine released it are safe. Handlers run on
/// the I/O thread; Stop and IsHailing may be called from any thread.
class MulticastServer : public std::enable_shared_from_this<MulticastServer> {
 public:
  /// Parses the group address, opens the socket (IPv4, TTL 32, address reuse).
  /// Throws on an address that does not parse and on socket errors.
  /// `hostAddress` is what the host name resolves to (see
  /// ResolveHostAddress). Throws, naming them, when `interfaces` lists
  /// interfaces of which none exists.
  MulticastServer(std::shared_ptr<boost::asio::io_context> ioContext,
                  const std::wstring& groupAddress, int groupPort, int serverPort,
                  std::wstring applicationName, std::wstring applicationId, std::chrono::milliseconds interval,
                  std::string hostAddress, HailInterfaces interfaces = HailInterfaces());
  ~MulticastServer();
  MulticastServer(const MulticastServer&) = delete;
  MulticastServer& operator=(const MulticastServer&) = delete;

  /// The host's first IPv4 address (0.0.0.0 when it has none), by resolving
  /// the host name. Blocks on the name service: call it on the host's thread,
  /// before a run, never on the I/O thread. Throws when the name cannot be
  /// resolved.
  static std::string ResolveHostAddress();

  /// Builds the HAIL and sends the first one at once. I/O thread.
  void Start();
  /// Ends hailing: closes the socket and cancels the timer on the I/O thread.
  void Stop();
  bool IsHailing() const { return hailing_; }

  /// The HAIL frame being sent (the first, when several go out; empty before
  /// Start). I/O thread.
  const std::u16string& GetHailText() const { return hail_text_; }

 private:
  // The HAIL frame announcing `address`, built once per address.
  const std::u16string& HailFor(const std::string& address);
  // The HAILs of this round; logs the choice when it changed. I/O thread.
  std::vector<HailTarget> ChooseTargets();
  void OnHailTimer(const boost::system::error_code& error);
  void OnHailSent(const boost::system::error_code& error);

  const std::shared_ptr<boost::asio::io_context> io_context_;
  const std::wstring group_address_;
  const int group_port_;
  boost::asio::ip::udp::endpoint endpoint_;
  boost::asio::ip::udp::socket socket_;
  boost::asio::steady_timer timer_;
  std::u16string hail_text_;
  const int server_port_;
  const std::wstring application_name_;
  const std::wstring application_id_;
  const std::chrono::milliseconds interval_;
  const std::string host_address_;
  const HailInterfaces interfaces_;
  const std::string group_decimal_;
  std::map<std::string, std::u16string> hails_;  // by announced address
  std::vector<HailTarget> last_targets_;          // logged when they change
  std::set<std::string> missing_logged_;          // listed interfaces not found
  std::shared_ptr<Logging::Logger> logger_;
  std::atomic<bool> hailing_{false};
  std::atomic<bool> stopped_{false};
};

}  // namespace Client
}  // namespace Corvane

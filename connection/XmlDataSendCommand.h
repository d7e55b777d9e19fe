#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "connection/SendCommand.h"

namespace Corvane {
namespace Logging {
class Logger;
}
namespace Client {

class IntegrationMessage;
class XmlDataMessage;

/// Sends one XMLDATA and blocks its caller until the outcome is known: the
/// write must complete within the acknowledgement timeout and, for a
/// version-1 peer, the XMLACK carrying the message's id must follow within it.
///
/// Run is called once, on the sending (client) thread. OnWritten runs on
/// the I/O thread, OnAckReceived on the connection's read path; both may run
/// before, during or after Run's waits, and after Run has given up (the
/// pending write holds the command).
class XmlDataSendCommand : public SendCommand,
                           public std::enable_shared_from_this<XmlDataSendCommand> {
 public:
  XmlDataSendCommand(std::shared_ptr<Socket> socket, std::shared_ptr<XmlDataMessage> message,
                     int ackTimeout, int peerVersion);
  ~XmlDataSendCommand() override;

  /// Returns on success; throws QuellorException -111 when the write failed,
  /// -109 when a version-1 peer did not acknowledge in time, or with the
  /// current error (normally code 0, empty text) when the write did not
  /// complete in time.
  void Run() override;
  void OnWritten(const boost::system::error_code& error, std::size_t bytesTransferred);
  /// Notes the acknowledgement when its id matches the message's exactly.
  void OnAckReceived(const std::shared_ptr<IntegrationMessage>& ack);
  /// The connection has ended: no acknowledgement can come any more, so Run
  /// stops waiting for one (and fails -109). Any thread.
  void OnConnectionEnded();

 private:
  const std::shared_ptr<XmlDataMessage> message_;
  const int ack_timeout_;
  const int peer_version_;
  std::shared_ptr<Logging::Logger> logger_;

  std::mutex mutex_;  // guards the fields below; never held across a wait's sleep
  std::condition_variable condition_;
  int error_code_ = 0;
  std::wstring error_message_;
  bool send_finished_ = false;
  std::chrono::steady_clock::time_point finished_at_;  // when send_finished_ was set
  bool ack_received_ = false;
  bool connection_ended_ = false;
};

}  // namespace Client
}  // namespace Corvane

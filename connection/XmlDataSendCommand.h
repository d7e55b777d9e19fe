#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "connection/SendCommand.h"
#include "platform/ErrorCode.h"

namespace Corvane {
namespace Logging {
class Logger;
}
namespace Client {

class IntegrationMessage;
class SendGroup;
class XmlDataMessage;

/// Sends one XMLDATA and blocks its caller until the outcome is known: the
/// write must complete within the acknowledgement timeout and, for a
/// version-1 peer, the XMLACK carrying the message's id must follow within it.
///
/// Run is Start then Finish. A fan-out calls Start on every connection first
/// and Finish on each afterwards, so that the peers work at the same time;
/// with a SendGroup, the command reports to it once when its outcome is
/// known, so the fan-out can wait for all of them with one wake-up.
///
/// Start and Finish are called once each, in that order, on the sending
/// (client) thread. OnWritten runs on the I/O thread, OnAckReceived on the
/// connection's read path; both may run before, during or after Finish's
/// waits, and after Finish has given up (the pending write holds the command).
class XmlDataSendCommand : public SendCommand,
                           public std::enable_shared_from_this<XmlDataSendCommand> {
 public:
  /// `logger` is "Corvane::Client::XmlDataSendCommand"'s (see Connection);
  /// `group`, when set, hears once when the outcome is known.
  XmlDataSendCommand(std::shared_ptr<Socket> socket, std::shared_ptr<XmlDataMessage> message,
                     std::chrono::milliseconds ackTimeout, int peerVersion,
                     std::shared_ptr<Logging::Logger> logger,
                     std::shared_ptr<SendGroup> group = nullptr);
  ~XmlDataSendCommand() override;

  /// Returns on success; throws EngineError -111 when the write failed,
  /// -109 when a version-1 peer did not acknowledge in time, or with the
  /// current error (normally code 0, empty text) when the write did not
  /// complete in time.
  void Run() override;
  /// Queues the frame; never waits.
  void Start();
  /// Waits for the outcome as Run describes.
  void Finish();
  /// `finished` runs once: when Finish returns or throws, or when the
  /// command goes without having been finished. Call before Start.
  void WhenFinished(std::function<void()> finished);
  void OnWritten(const boost::system::error_code& error, std::size_t bytesTransferred);
  /// Notes the acknowledgement when its id matches the message's exactly.
  void OnAckReceived(const std::shared_ptr<IntegrationMessage>& ack);
  /// The connection has ended: no acknowledgement can come any more, so Run
  /// stops waiting for one (and fails -109). Any thread.
  void OnConnectionEnded();
  /// From the start to the acknowledgement; -1 when none came.
  std::chrono::microseconds RoundTrip();

 private:
  const std::shared_ptr<XmlDataMessage> message_;
  const std::chrono::milliseconds ack_timeout_;
  const int peer_version_;
  std::shared_ptr<Logging::Logger> logger_;
  const std::shared_ptr<SendGroup> group_;

  // Runs finished_ unless it has run.
  void CallFinished();
  std::function<void()> finished_;  // the finishing thread's, or the destructor's

  // Reports to the group once the outcome is known. Called with mutex_ held;
  // true when the caller must tell the group (after unlocking).
  bool SettleLocked();

  std::mutex mutex_;  // guards the fields below; never held across a wait's sleep
  std::condition_variable condition_;
  Errc error_code_{};  // none until a failure sets it
  std::wstring error_message_;
  std::chrono::steady_clock::time_point started_at_;
  bool send_finished_ = false;
  std::chrono::steady_clock::time_point finished_at_;  // when send_finished_ was set
  bool ack_received_ = false;
  std::chrono::steady_clock::time_point acked_at_;
  bool connection_ended_ = false;
  bool start_failed_ = false;
  bool settled_ = false;  // reported to the group
};

}  // namespace Client
}  // namespace Corvane

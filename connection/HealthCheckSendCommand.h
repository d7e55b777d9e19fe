#pragma once

#include <chrono>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <boost/asio/steady_timer.hpp>

#include "connection/SendCommand.h"

namespace Corvane {
namespace Logging {
class Logger;
}
namespace Client {

class Connection;
class IntegrationMessage;

/// Supervises a standard connection: every `interval` milliseconds it writes
/// an HLTHCHK and, for a version-1 peer, waits the full `ackTimeout` for the
/// HLTHACK with that id before the next interval. A missing acknowledgement
/// or a failed write closes the connection.
///
/// The whole cycle runs on the I/O thread, driven by one timer; every pending
/// wait and write holds the command. Cancel may be called from any thread.
class HealthCheckSendCommand : public SendCommand,
                               public std::enable_shared_from_this<HealthCheckSendCommand> {
 public:
  /// The timer runs on the socket's executor.
  HealthCheckSendCommand(const std::shared_ptr<Connection>& connection,
                         std::shared_ptr<Socket> socket, std::chrono::milliseconds interval,
                         std::chrono::milliseconds ackTimeout);
  ~HealthCheckSendCommand() override;

  /// Starts the cycle: the first check goes out one interval from now.
  void Run() override;
  /// Ends the cycle; no handler acts after it, whatever thread it runs on.
  virtual void Cancel();
  /// Removes the first pending id equal to the acknowledgement's. I/O thread.
  virtual void OnAckReceived(const std::shared_ptr<IntegrationMessage>& ack);

 private:
  void ScheduleNextSend();
  void OnIntervalElapsed(const boost::system::error_code& error);
  void OnCheckWritten(const boost::system::error_code& error, const std::u16string& messageId);
  void OnAckWaitElapsed(const boost::system::error_code& error,
                                const std::u16string& messageId);
  // A cancelled cycle, or an error that means the socket is going away.
  bool IsCancellation(const boost::system::error_code& error) const;

  const std::weak_ptr<Connection> connection_;
  boost::asio::steady_timer timer_;
  const std::chrono::milliseconds interval_;
  const std::chrono::milliseconds ack_timeout_;
  std::shared_ptr<Logging::Logger> logger_;
  std::atomic<bool> cancelled_{false};
  std::vector<std::u16string> pending_ids_;  // I/O thread only; rarely more than one
  // The last check sent and when, for its round trip. I/O thread only.
  std::u16string last_sent_id_;
  std::chrono::steady_clock::time_point last_sent_at_;
};

}  // namespace Client
}  // namespace Corvane

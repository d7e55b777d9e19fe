#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>

#include "connection/SendCommand.h"

namespace Corvane {
namespace Logging {
class Logger;
}
namespace Client {

/// Writes a DISCONNECT before a connection closes its socket. On a client
/// thread Run waits, once and at most `timeout` milliseconds, for the write to
/// complete; on the I/O thread, where the completion could not run while it
/// waited, or when `wait` is false, it only queues the frame (the socket's
/// graceful close then lets it go out first). Run never throws.
class DisconnectSendCommand : public SendCommand,
                              public std::enable_shared_from_this<DisconnectSendCommand> {
 public:
  DisconnectSendCommand(std::shared_ptr<Socket> socket, int timeout, bool wait = true);
  ~DisconnectSendCommand() override;

  void Run() override;
  void SendFinished(const boost::system::error_code& error, std::size_t bytesTransferred);

 private:
  const int timeout_;
  const bool wait_;
  std::shared_ptr<Logging::Logger> logger_;
  std::mutex mutex_;
  std::condition_variable condition_;
  bool finished_ = false;
};

}  // namespace Client
}  // namespace Corvane

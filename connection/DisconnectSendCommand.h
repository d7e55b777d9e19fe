#pragma once

#include <memory>

#include "connection/SendCommand.h"

namespace Corvane {
namespace Logging {
class Logger;
}
namespace Client {

/// Queues a DISCONNECT before a connection closes its socket; the socket's
/// graceful close lets it go out first. Run never waits and never throws.
class DisconnectSendCommand : public SendCommand,
                              public std::enable_shared_from_this<DisconnectSendCommand> {
 public:
  explicit DisconnectSendCommand(std::shared_ptr<Socket> socket);
  ~DisconnectSendCommand() override;

  void Run() override;

 private:
  void OnWritten(const boost::system::error_code& error, std::size_t bytesTransferred) const;

  std::shared_ptr<Logging::Logger> logger_;
};

}  // namespace Client
}  // namespace Corvane

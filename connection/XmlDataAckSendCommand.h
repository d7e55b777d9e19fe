#pragma once

#include <memory>
#include <string>

#include "connection/SendCommand.h"

namespace Corvane {
namespace Logging {
class Logger;
}
namespace Client {

class ListenerSlot;
class XmlDataMessage;

/// Acknowledges a received XMLDATA with an XMLACK and, once the XMLACK is
/// written completely, hands the XML text to the host's listener. Run never
/// throws and never waits.
class XmlDataAckSendCommand : public SendCommand,
                              public std::enable_shared_from_this<XmlDataAckSendCommand> {
 public:
  XmlDataAckSendCommand(std::shared_ptr<Socket> socket, std::shared_ptr<XmlDataMessage> message,
                        std::shared_ptr<ListenerSlot> listener, std::wstring applicationName);
  ~XmlDataAckSendCommand() override;

  void Run() override;
  void OnWritten(const boost::system::error_code& error, std::size_t bytesTransferred);
  /// Delivers the XML text to the listener (without an acknowledgement for
  /// peers that expect none).
  void NotifyListener();

 private:
  const std::shared_ptr<XmlDataMessage> message_;
  std::shared_ptr<Logging::Logger> logger_;
  const std::shared_ptr<ListenerSlot> listener_;
  const std::wstring application_name_;
};

}  // namespace Client
}  // namespace Corvane

#pragma once
// DISCONNECT: ends a connection from either side. No body: the frame is the
// 20-character header alone, and the message is complete after it.

#include <memory>
#include <string>

#include "protocol/IntegrationMessage.h"

namespace Corvane {
namespace Client {

class DisconnectMessage : public IntegrationMessage {
 public:
  DisconnectMessage();

  /// Always 0.
  int GetRemainingLength() const override;
  /// Does nothing.
  void Parse(const std::u16string& chunk) override;
  std::u16string ToString() const override;
  /// Always empty.
  std::u16string GetMessageId() const override;
  int GetProtocolVersion() const override;
  bool SupportsProtocolVersion(int version) const override;
  MessageType GetType() const override;
};

}  // namespace Client
}  // namespace Corvane

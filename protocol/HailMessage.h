#pragma once
// HAIL: announces the engine on the LAN (sent in a UDP datagram only).
// Body: address (text 15), server port (numeric 5), application id (text 36);
// frame 76 characters. A HAIL read from a stream is complete after its header.

#include <memory>
#include <string>

#include "protocol/IntegrationMessage.h"

namespace Corvane {
namespace Client {

class HailMessage : public IntegrationMessage {
 public:
  /// Reading constructor: empty texts, port 0.
  HailMessage();
  /// Sending constructor: the engine's IPv4 address text, its server port and
  /// its application id.
  HailMessage(std::u16string address, int port, std::u16string applicationId);

  /// Always 0.
  int GetRemainingLength() const override;
  /// Always throws EngineError -999 "Not implemented".
  void Parse(const std::u16string& chunk) override;
  std::u16string ToString() const override;
  /// Always empty.
  std::u16string GetMessageId() const override;
  int GetProtocolVersion() const override;
  bool SupportsProtocolVersion(int version) const override;
  MessageType GetType() const override;

  std::u16string GetAddress() const;
  int GetPort() const;
  std::u16string GetApplicationId() const;

 private:
  std::u16string address_;
  int port_;
  std::u16string application_id_;
};

}  // namespace Client
}  // namespace Corvane
